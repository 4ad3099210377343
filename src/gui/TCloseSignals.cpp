#include "gui/TCloseSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int Signals[3] = {SIGTERM, SIGHUP, SIGINT};

// What the handler writes; a handler has no object to write to.
std::atomic<int> ReceivedSignal{0};
std::atomic<bool> Undelivered{false};
std::atomic<int> WakeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the handler may only touch lock-free flags");

extern "C" void OnCloseSignal(int Signal) {
    int None = 0;
    if (!ReceivedSignal.compare_exchange_strong(None, Signal)) {
        // The close is under way and the user insists: end now. The signal is blocked while its handler
        // runs, so the raised copy lands as the handler returns.
        std::signal(Signal, SIG_DFL);
        std::raise(Signal);
        return;
    }
    Undelivered = true;
    const int SavedErrno = errno;
    const char Byte = 1;
    [[maybe_unused]] const ssize_t Written = ::write(WakeFd.load(), &Byte, 1);
    errno = SavedErrno;
}

} // namespace

TCloseSignals::TCloseSignals(QObject* Parent) : QObject(Parent) {
    ReceivedSignal = 0;
    Undelivered = false;
    if (::pipe2(FPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    WakeFd = FPipe[1];
    FNotifier = std::make_unique<QSocketNotifier>(FPipe[0], QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, &TCloseSignals::Deliver);
    for (int I = 0; I < 3; ++I) {
        struct sigaction Action {};
        Action.sa_handler = OnCloseSignal;
        ::sigemptyset(&Action.sa_mask);
        Action.sa_flags = SA_RESTART;
        FInstalled[I] = ::sigaction(Signals[I], &Action, &FOld[I]) == 0;
    }
}

TCloseSignals::~TCloseSignals() {
    for (int I = 0; I < 3; ++I)
        if (FInstalled[I]) ::sigaction(Signals[I], &FOld[I], nullptr);
    WakeFd = -1;
    FNotifier.reset();
    for (int Fd : FPipe)
        if (Fd >= 0) ::close(Fd);
}

bool TCloseSignals::Take() {
    return Undelivered.exchange(false);
}

bool TCloseSignals::Pending() {
    return Undelivered.load();
}

void TCloseSignals::Deliver() {
    char Buffer[16];
    while (::read(FPipe[0], Buffer, sizeof Buffer) > 0) {
    }
    if (Take()) emit Received();
}
