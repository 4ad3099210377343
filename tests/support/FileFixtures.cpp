#include "FileFixtures.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

int ModeOf(const std::string& Path) {
    struct stat St {};
    if (::lstat(Path.c_str(), &St) != 0) return -1;
    return static_cast<int>(St.st_mode & 07777);
}

std::vector<std::string> NamesIn(const std::string& Folder) {
    std::vector<std::string> Names;
    for (const auto& Entry : fs::directory_iterator(Folder))
        Names.push_back(Entry.path().filename().string());
    std::sort(Names.begin(), Names.end());
    return Names;
}

pid_t DeadPid() {
    const pid_t Child = ::fork();
    if (Child == 0) ::_exit(0);
    if (Child < 0) throw std::runtime_error("fork failed");
    while (::waitpid(Child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return Child;
}

void WriteBytes(const std::string& FileName, const std::string& Bytes, int Mode) {
    {
        std::ofstream Out(FileName, std::ios::binary | std::ios::trunc);
        Out << Bytes;
    }
    ::chmod(FileName.c_str(), static_cast<mode_t>(Mode));
}

TUmaskScope::TUmaskScope(mode_t Mask) : FOld(::umask(Mask)) {}

TUmaskScope::~TUmaskScope() {
    ::umask(FOld);
}

TLimitScope::TLimitScope(int Resource, rlim_t Value) : FResource(Resource) {
    ::getrlimit(FResource, &FOld);
    rlimit Lowered = FOld;
    Lowered.rlim_cur = Value;
    FLowered = ::setrlimit(FResource, &Lowered) == 0;
}

TLimitScope::~TLimitScope() {
    Restore();
}

void TLimitScope::Restore() {
    if (std::exchange(FLowered, false)) ::setrlimit(FResource, &FOld);
}
