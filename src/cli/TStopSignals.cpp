#include "cli/TStopSignals.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <poll.h>

namespace {

// A signal arriving just before a step of the pause begins is seen at the end of that step at the latest.
constexpr int PauseStepMs = 100;

// The one thing the handler writes; a handler has no object to write to.
std::atomic<int> ReceivedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch a lock-free flag");

extern "C" void OnStopSignal(int Signal) {
    int None = 0;
    if (ReceivedSignal.compare_exchange_strong(None, Signal)) return;
    // The user insists: end now, the way the signal ends a program that does not handle it. The signal
    // is blocked while its handler runs, so a raised copy of the same one lands as the handler returns.
    std::signal(Signal, SIG_DFL);
    std::raise(Signal);
}

bool Install(int Signal, struct sigaction& Old) {
    struct sigaction Action {};
    Action.sa_handler = OnStopSignal;
    ::sigemptyset(&Action.sa_mask);
    // Writes to the output resume after the handler; the waits (poll) end early all the same.
    Action.sa_flags = SA_RESTART;
    return ::sigaction(Signal, &Action, &Old) == 0;
}

} // namespace

TStopSignals::TStopSignals() {
    FInstalledInterrupt = Install(SIGINT, FOldInterrupt);
    FInstalledTerminate = Install(SIGTERM, FOldTerminate);
    struct sigaction Ignore {};
    Ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&Ignore.sa_mask);
    FIgnoredPipe = ::sigaction(SIGPIPE, &Ignore, &FOldPipe) == 0;
}

TStopSignals::~TStopSignals() {
    if (FInstalledInterrupt) ::sigaction(SIGINT, &FOldInterrupt, nullptr);
    if (FInstalledTerminate) ::sigaction(SIGTERM, &FOldTerminate, nullptr);
    if (FIgnoredPipe) ::sigaction(SIGPIPE, &FOldPipe, nullptr);
}

void TStopSignals::Stop(int Cause) {
    int None = 0;
    ReceivedSignal.compare_exchange_strong(None, Cause);
}

int TStopSignals::Received() {
    return ReceivedSignal.load();
}

void TStopSignals::Pause(int Milliseconds) {
    using TClock = std::chrono::steady_clock;
    const auto Deadline = TClock::now() + std::chrono::milliseconds(Milliseconds);
    while (Received() == 0) {
        const auto Left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - TClock::now()).count();
        if (Left <= 0) return;
        // A signal delivered to this thread cuts the step short.
        ::poll(nullptr, 0, static_cast<int>(std::min<int64_t>(Left, PauseStepMs)));
    }
}
