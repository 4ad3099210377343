#include "platform/MessageQueue.h"

#include <algorithm>
#include <cerrno>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <system_error>

namespace platform {

namespace {

UniqueFd MakeFd(int Fd, const char* What) {
    if (Fd < 0) throw std::system_error(errno, std::generic_category(), What);
    return UniqueFd(Fd);
}

timespec ToTimespec(MessageQueue::Clock::time_point When) {
    // steady_clock is CLOCK_MONOTONIC on Linux, the clock the timer descriptor runs on.
    const auto Ns = std::chrono::duration_cast<std::chrono::nanoseconds>(When.time_since_epoch()).count();
    timespec Ts{};
    Ts.tv_sec = static_cast<time_t>(Ns / 1000000000);
    Ts.tv_nsec = static_cast<long>(Ns % 1000000000);
    if (Ts.tv_sec == 0 && Ts.tv_nsec == 0) Ts.tv_nsec = 1; // all zero would disarm
    return Ts;
}

} // namespace

std::shared_ptr<MessageQueue> MessageQueue::ForThisThread() {
    thread_local std::shared_ptr<MessageQueue> Queue;
    if (!Queue) Queue = std::make_shared<MessageQueue>();
    return Queue;
}

MessageQueue::MessageQueue()
    : Epoll(MakeFd(::epoll_create1(EPOLL_CLOEXEC), "epoll_create1")),
      Wake(MakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK), "eventfd")),
      TimerFd(MakeFd(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK), "timerfd_create")) {
    if (!Watch(Wake.Get(), EPOLLIN, WakeTag) || !Watch(TimerFd.Get(), EPOLLIN, TimerTag))
        throw std::system_error(errno, std::generic_category(), "epoll_ctl");
}

void MessageQueue::Post(QueuedMessage Message) {
    std::lock_guard Guard(Lock);
    Message.Sequence = NextSequence++;
    const bool WasEmpty = Messages.empty();
    Messages.push_back(std::move(Message));
    if (WasEmpty) SignalLocked();
}

void MessageQueue::Purge(const std::function<bool(const QueuedMessage&)>& Matches) {
    std::lock_guard Guard(Lock);
    std::erase_if(Messages, Matches);
}

bool MessageQueue::HasMessages() const {
    std::lock_guard Guard(Lock);
    return !Messages.empty();
}

bool MessageQueue::Watch(int Fd, uint32_t Events, uint64_t Tag) {
    epoll_event Event{};
    Event.events = Events;
    Event.data.u64 = Tag;
    return ::epoll_ctl(Epoll.Get(), EPOLL_CTL_ADD, Fd, &Event) == 0;
}

bool MessageQueue::Rewatch(int Fd, uint32_t Events, uint64_t Tag) {
    epoll_event Event{};
    Event.events = Events;
    Event.data.u64 = Tag;
    return ::epoll_ctl(Epoll.Get(), EPOLL_CTL_MOD, Fd, &Event) == 0;
}

void MessageQueue::Unwatch(int Fd) {
    ::epoll_ctl(Epoll.Get(), EPOLL_CTL_DEL, Fd, nullptr);
}

void MessageQueue::StartTimer(HWND Window, uintptr_t Id, std::chrono::milliseconds Interval) {
    std::lock_guard Guard(Lock);
    DropTicksLocked(Window, Id);
    std::erase_if(Timers, [&](const Timer& T) { return T.Window == Window && T.Id == Id; });
    Timers.push_back({Window, Id, Interval, Clock::now() + Interval, NextStart++, false});
    RearmLocked();
}

bool MessageQueue::StopTimer(HWND Window, uintptr_t Id) {
    std::lock_guard Guard(Lock);
    DropTicksLocked(Window, Id);
    const auto Removed =
        std::erase_if(Timers, [&](const Timer& T) { return T.Window == Window && T.Id == Id; });
    RearmLocked();
    return Removed > 0;
}

void MessageQueue::ForgetWindow(HWND Window) {
    std::lock_guard Guard(Lock);
    std::erase_if(Messages, [&](const QueuedMessage& M) { return M.Window == Window; });
    std::erase_if(Timers, [&](const Timer& T) { return T.Window == Window; });
    RearmLocked();
}

bool MessageQueue::ClaimTick(HWND Window, uintptr_t Id, uint64_t Start) {
    std::lock_guard Guard(Lock);
    for (auto& T : Timers) {
        if (T.Window == Window && T.Id == Id && T.Start == Start && T.Pending) {
            T.Pending = false;
            RearmLocked();
            return true;
        }
    }
    return false;
}

std::optional<MessageQueue::Clock::duration> MessageQueue::UntilNextTimer() const {
    std::lock_guard Guard(Lock);
    std::optional<Clock::time_point> Earliest;
    for (const auto& T : Timers)
        if (!T.Pending && (!Earliest || T.Due < *Earliest)) Earliest = T.Due;
    if (!Earliest) return std::nullopt;
    return std::max(Clock::duration::zero(), *Earliest - Clock::now());
}

void MessageQueue::ClearWake() {
    uint64_t Count;
    while (::read(Wake.Get(), &Count, sizeof Count) == sizeof Count) {
    }
}

void MessageQueue::ClearTimerFd() {
    uint64_t Count;
    while (::read(TimerFd.Get(), &Count, sizeof Count) == sizeof Count) {
    }
}

void MessageQueue::QueueDueTimers() {
    std::lock_guard Guard(Lock);
    const auto Now = Clock::now();
    std::vector<Timer*> Due;
    for (auto& T : Timers)
        if (!T.Pending && T.Due <= Now) Due.push_back(&T);
    std::sort(Due.begin(), Due.end(), [](const Timer* A, const Timer* B) {
        return A->Due != B->Due ? A->Due < B->Due : A->Start < B->Start;
    });
    for (Timer* T : Due) {
        // One tick at most waits in the queue; however late the pump is, the next period starts now.
        T->Pending = true;
        T->Due = Now + T->Interval;
        QueuedMessage Tick;
        Tick.Sequence = NextSequence++;
        Tick.Window = T->Window;
        Tick.Message = WM_TIMER;
        Tick.WParam = T->Id;
        Tick.Kind = MessageKind::TimerTick;
        Tick.Tag = T->Start;
        Messages.push_back(std::move(Tick));
    }
    RearmLocked();
}

uint64_t MessageQueue::LastSequence() const {
    std::lock_guard Guard(Lock);
    return NextSequence - 1;
}

std::optional<QueuedMessage> MessageQueue::PopUpTo(uint64_t Sequence) {
    std::lock_guard Guard(Lock);
    if (Messages.empty() || Messages.front().Sequence > Sequence) return std::nullopt;
    QueuedMessage Front = std::move(Messages.front());
    Messages.pop_front();
    return Front;
}

void MessageQueue::SignalIfPending() {
    std::lock_guard Guard(Lock);
    if (!Messages.empty()) SignalLocked();
}

void MessageQueue::SignalLocked() {
    const uint64_t One = 1;
    // A full counter (never in practice) still leaves the descriptor readable, which is all we need.
    [[maybe_unused]] auto Written = ::write(Wake.Get(), &One, sizeof One);
}

void MessageQueue::RearmLocked() {
    std::optional<Clock::time_point> Earliest;
    for (const auto& T : Timers)
        if (!T.Pending && (!Earliest || T.Due < *Earliest)) Earliest = T.Due;
    itimerspec Setting{};
    if (Earliest) Setting.it_value = ToTimespec(*Earliest);
    // Setting the timer also clears an expiry not yet read, so a stale expiry never wakes the thread.
    ::timerfd_settime(TimerFd.Get(), TFD_TIMER_ABSTIME, &Setting, nullptr);
}

void MessageQueue::DropTicksLocked(HWND Window, uintptr_t Id) {
    std::erase_if(Messages, [&](const QueuedMessage& M) {
        return M.Kind == MessageKind::TimerTick && M.Window == Window && M.WParam == Id;
    });
}

} // namespace platform
