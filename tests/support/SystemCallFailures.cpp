#include "SystemCallFailures.h"

#include <cstddef>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <vector>

namespace {

#if defined(__x86_64__)
constexpr unsigned NativeArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned NativeArch = AUDIT_ARCH_AARCH64;
#else
constexpr unsigned NativeArch = 0;
#endif

} // namespace

bool FailSystemCallsOnThisThread(std::initializer_list<long> SystemCalls, int Errno) {
    if (NativeArch == 0) return false;
    std::vector<sock_filter> Program;
    // Calls of another architecture's numbering pass untouched.
    Program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    Program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, NativeArch, 1, 0));
    Program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    Program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    for (long Call : SystemCalls) {
        Program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(Call), 0, 1));
        Program.push_back(
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (static_cast<unsigned>(Errno) & SECCOMP_RET_DATA)));
    }
    Program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    const sock_fprog Filter{static_cast<unsigned short>(Program.size()), Program.data()};
    // Without new privileges an unprivileged thread may filter itself.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
    return ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &Filter) == 0;
}
