#pragma once
// The message queue of one thread: posted messages in arrival order, the window timers of the thread's
// windows, and one epoll descriptor that becomes readable whenever the thread has work (a post, a due
// timer, a ready socket selected to one of its windows).
#include "platform/UniqueFd.h"
#include "platform/Windows.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

enum class MessageKind { Posted, TimerTick, SocketNotice, LookupDone };

// A finished name look-up: the host entry the worker built in storage of its own, and where the caller
// wants it copied once the completion reaches the window.
struct LookupCompletion {
    std::vector<char> Entry;
    char* Buffer = nullptr;
};

struct QueuedMessage {
    uint64_t Sequence = 0;
    HWND Window = 0;
    UINT Message = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    MessageKind Kind = MessageKind::Posted;
    // TimerTick: the timer's start number; SocketNotice: the socket registration's tag.
    uint64_t Tag = 0;
    std::shared_ptr<const LookupCompletion> Lookup;
};

class MessageQueue {
public:
    using Clock = std::chrono::steady_clock;

    // Tags of the queue's own descriptors in its epoll set; socket tags are at least 2^32.
    static constexpr uint64_t WakeTag = 0;
    static constexpr uint64_t TimerTag = 1;

    // The calling thread's queue, created on first use; throws std::system_error when the descriptors
    // cannot be made.
    static std::shared_ptr<MessageQueue> ForThisThread();

    MessageQueue();
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    int Fd() const { return Epoll.Get(); }

    // Thread-safe.
    void Post(QueuedMessage Message);
    void Purge(const std::function<bool(const QueuedMessage&)>& Matches);
    bool HasMessages() const;

    // Adds, changes or removes a descriptor of the epoll set; false with errno set on failure.
    bool Watch(int Fd, uint32_t Events, uint64_t Tag);
    bool Rewatch(int Fd, uint32_t Events, uint64_t Tag);
    void Unwatch(int Fd);

    // Timers (thread-safe). A start or restart begins a full period and drops a pending tick.
    void StartTimer(HWND Window, uintptr_t Id, std::chrono::milliseconds Interval);
    bool StopTimer(HWND Window, uintptr_t Id);
    // Drops the window's timers and queued messages.
    void ForgetWindow(HWND Window);
    // True when the tick still belongs to a live period of its timer; the timer may then tick again.
    bool ClaimTick(HWND Window, uintptr_t Id, uint64_t Start);
    // Time until the earliest timer that may tick, if any.
    std::optional<Clock::duration> UntilNextTimer() const;

    // Owner thread only.
    void ClearWake();
    void ClearTimerFd();
    void QueueDueTimers();
    uint64_t LastSequence() const;
    std::optional<QueuedMessage> PopUpTo(uint64_t Sequence);
    // Keeps the wake descriptor readable while messages remain after a pump.
    void SignalIfPending();

private:
    struct Timer {
        HWND Window;
        uintptr_t Id;
        Clock::duration Interval;
        Clock::time_point Due;
        uint64_t Start;
        bool Pending;
    };

    void SignalLocked();
    void RearmLocked();
    void DropTicksLocked(HWND Window, uintptr_t Id);

    UniqueFd Epoll;
    UniqueFd Wake;
    UniqueFd TimerFd;
    mutable std::mutex Lock;
    std::deque<QueuedMessage> Messages;
    uint64_t NextSequence = 1;
    std::vector<Timer> Timers;
    uint64_t NextStart = 1;
};

} // namespace platform
