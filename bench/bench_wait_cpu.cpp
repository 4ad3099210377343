// CPU used by a ReadLn that waits on a silent loopback peer until its time-out ends it.
//
//   bench_wait_cpu [seconds=10]
//
// The wait blocks in the platform's wait primitive; the figure is the process's CPU time over the wait
// (the peer's thread sleeps in poll meanwhile). Target: below 0.05 s for 10 s.
#include "net/SocketErrors.h"
#include "net/TDovrel.h"
#include "support/LoopbackPeer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

double CpuSeconds(clockid_t Clock) {
    timespec Time{};
    clock_gettime(Clock, &Time);
    return static_cast<double>(Time.tv_sec) + static_cast<double>(Time.tv_nsec) / 1e9;
}

} // namespace

int main(int Argc, char** Argv) {
    const int Seconds = Argc > 1 ? std::atoi(Argv[1]) : 10;
    if (Seconds <= 0) {
        std::fprintf(stderr, "usage: bench_wait_cpu [seconds]\n");
        return 2;
    }
    LoopbackPeer Peer(PeerScript().Hold());
    TDovrel Socket(nullptr);
    Socket.Host = "127.0.0.1";
    Socket.Port = Peer.Port();
    Socket.Connect();
    Socket.TimeOut = Seconds * 1000;

    const auto WallStart = std::chrono::steady_clock::now();
    const double ProcessStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double ThreadStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    bool Aborted = false;
    try {
        Socket.ReadLn();
    } catch (const EAbortError&) {
        Aborted = true;
    }
    const double ThreadCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - ThreadStart;
    const double ProcessCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - ProcessStart;
    const double Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - WallStart).count();

    std::printf("ReadLn on a silent peer: %s after %.2f s (TimeOut %d ms)\n",
                Aborted && Socket.TimedOut ? "timed out" : "ended otherwise", Wall, Socket.TimeOut);
    std::printf(
        "CPU during the wait: %.4f s in the process, %.4f s in the waiting thread (target < 0.05 s)\n",
        ProcessCpu, ThreadCpu);
    return Aborted ? 0 : 1;
}
