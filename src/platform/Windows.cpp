#include "platform/Windows.h"

#include "platform/ApplicationExceptions.h"
#include "platform/LookupTable.h"
#include "platform/MessageQueue.h"
#include "platform/SocketTable.h"
#include "platform/WindowTable.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/epoll.h>

namespace platform {

namespace {

// While a toolkit hook is installed a wait lasts no longer than this, so its own events are served.
constexpr int HookedWaitCapMs = 5;

thread_local std::function<void()> EventHook;

std::shared_ptr<MessageQueue> ThisThreadQueue() {
    try {
        return MessageQueue::ForThisThread();
    } catch (...) {
        return nullptr;
    }
}

// Everything that could make a queued message stale is checked under the window's dispatch lock, which
// the threads that destroy windows, stop timers or close sockets take too.
void DispatchOne(const QueuedMessage& Message) {
    const auto Window = WindowTable::Instance().Find(Message.Window);
    if (!Window) return;
    std::unique_lock Guard(Window->DispatchMutex);
    if (Window->Destroyed.load()) return;
    switch (Message.Kind) {
    case MessageKind::Posted:
        break;
    case MessageKind::TimerTick:
        if (!Window->Queue->ClaimTick(Message.Window, Message.WParam, Message.Tag)) return;
        break;
    case MessageKind::SocketNotice:
        if (!SocketTable::Instance().IsCurrent(Message.Tag)) return;
        break;
    case MessageKind::LookupDone:
        // A cancelled look-up answers nobody; an answered one is taken off the list.
        if (!LookupTable::Instance().Remove(Message.WParam)) return;
        if (Message.Lookup && Message.Lookup->Buffer && !Message.Lookup->Entry.empty())
            std::memcpy(Message.Lookup->Buffer, Message.Lookup->Entry.data(), Message.Lookup->Entry.size());
        break;
    }
    try {
        Window->Proc(Message.Window, Message.Message, Message.WParam, Message.LParam);
    } catch (...) {
        // A procedure's failure must not unwind through the pump of whoever happens to be pumping; the
        // user hears of it through the application's exception handler.
        HandleApplicationException();
    }
}

void CollectReadiness(MessageQueue& Queue) {
    constexpr int Batch = 32;
    epoll_event Events[Batch];
    for (;;) {
        const int Count = ::epoll_wait(Queue.Fd(), Events, Batch, 0);
        if (Count <= 0) return;
        for (int I = 0; I < Count; ++I) {
            const uint64_t Tag = Events[I].data.u64;
            if (Tag == MessageQueue::WakeTag) continue; // cleared before collecting
            if (Tag == MessageQueue::TimerTag) {
                Queue.ClearTimerFd();
                continue;
            }
            SocketTable::Instance().OnReady(Queue, Tag, Events[I].events);
        }
        if (Count < Batch) return;
    }
}

void Pump(MessageQueue& Queue) {
    Queue.ClearWake();
    CollectReadiness(Queue);
    Queue.QueueDueTimers();
    // Messages posted while this pump dispatches wait for the next pump, so a procedure that posts to
    // itself cannot keep the pump from returning.
    const uint64_t Last = Queue.LastSequence();
    while (auto Message = Queue.PopUpTo(Last)) DispatchOne(*Message);
    Queue.SignalIfPending();
}

} // namespace

bool GetClassInfo(const std::string& ClassName, WNDCLASS* Info) {
    return WindowTable::Instance().FindClass(ClassName, Info);
}

bool RegisterClass(const WNDCLASS& Class) {
    return WindowTable::Instance().AddClass(Class);
}

HWND CreateWindowEx(const std::string& ClassName) {
    auto Queue = ThisThreadQueue();
    if (!Queue) return 0;
    return WindowTable::Instance().Create(ClassName, std::move(Queue));
}

bool DestroyWindow(HWND Window) {
    const auto Entry = WindowTable::Instance().Remove(Window);
    if (!Entry) return false;
    // Waits for a dispatch to this window in progress on its own thread; no new one starts.
    std::lock_guard Guard(Entry->DispatchMutex);
    SocketTable::Instance().ForgetWindow(Window);
    LookupTable::Instance().ForgetWindow(Window);
    Entry->Queue->ForgetWindow(Window);
    return true;
}

bool IsWindow(HWND Window) {
    return WindowTable::Instance().Find(Window) != nullptr;
}

void SetWindowLongPtr(HWND Window, int Index, intptr_t Value) {
    const auto Entry = WindowTable::Instance().Find(Window);
    if (!Entry || Index < 0 || Index % static_cast<int>(sizeof(intptr_t)) != 0) return;
    const auto Slot = static_cast<size_t>(Index) / sizeof(intptr_t);
    if (Slot < Entry->ExtraSlots) Entry->Extra[Slot].store(Value);
}

intptr_t GetWindowLongPtr(HWND Window, int Index) {
    const auto Entry = WindowTable::Instance().Find(Window);
    if (!Entry || Index < 0 || Index % static_cast<int>(sizeof(intptr_t)) != 0) return 0;
    const auto Slot = static_cast<size_t>(Index) / sizeof(intptr_t);
    return Slot < Entry->ExtraSlots ? Entry->Extra[Slot].load() : 0;
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

bool PostMessage(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
    const auto Entry = WindowTable::Instance().Find(Window);
    if (!Entry) return false;
    QueuedMessage Queued;
    Queued.Window = Window;
    Queued.Message = Message;
    Queued.WParam = WParam;
    Queued.LParam = LParam;
    Entry->Queue->Post(std::move(Queued));
    return true;
}

uintptr_t SetTimer(HWND Window, uintptr_t Id, UINT Milliseconds) {
    if (Milliseconds == 0) return 0;
    const auto Entry = WindowTable::Instance().Find(Window);
    if (!Entry) return 0;
    // Under the dispatch lock, so a tick of the previous period is not running when the new one starts.
    std::lock_guard Guard(Entry->DispatchMutex);
    if (Entry->Destroyed.load()) return 0;
    Entry->Queue->StartTimer(Window, Id, std::chrono::milliseconds(Milliseconds));
    return Id;
}

bool ApplyTimer(HWND Window, uintptr_t Id, const std::function<UINT()>& Interval) {
    const auto Entry = WindowTable::Instance().Find(Window);
    if (!Entry) return Interval() == 0;
    // The interval is asked for under the dispatch lock, which every other change of the window's timers
    // takes too: of two threads applying at once, the later one applies what is wanted then.
    std::lock_guard Guard(Entry->DispatchMutex);
    const UINT Milliseconds = Interval();
    if (Milliseconds == 0 || Entry->Destroyed.load()) {
        Entry->Queue->StopTimer(Window, Id);
        return Milliseconds == 0;
    }
    Entry->Queue->StartTimer(Window, Id, std::chrono::milliseconds(Milliseconds));
    return true;
}

bool KillTimer(HWND Window, uintptr_t Id) {
    const auto Entry = WindowTable::Instance().Find(Window);
    if (!Entry) return false;
    // Under the dispatch lock, so no tick of this timer is running once KillTimer returns.
    std::lock_guard Guard(Entry->DispatchMutex);
    return Entry->Queue->StopTimer(Window, Id);
}

void ProcessMessages() {
    DispatchPendingMessages();
    if (EventHook) {
        // Copied, so a hook that replaces itself is not destroyed while it runs.
        const auto Hook = EventHook;
        try {
            Hook();
        } catch (...) {
        }
    }
}

void DispatchPendingMessages() {
    if (const auto Queue = ThisThreadQueue()) Pump(*Queue);
}

void WaitForWork(int MaxMilliseconds, int WatchFd, short WatchEvents) {
    // A thread whose queue cannot be made (no descriptor left) still waits, on the watched descriptor
    // alone; returning at once would make every wait loop of the thread spin.
    const auto Queue = ThisThreadQueue();
    if (Queue && Queue->HasMessages()) return;
    int Timeout = MaxMilliseconds < 0 ? -1 : MaxMilliseconds;
    if (EventHook && (Timeout < 0 || Timeout > HookedWaitCapMs)) Timeout = HookedWaitCapMs;
    // The timer descriptor in the epoll set wakes the wait for a due timer; bounding the timeout as well
    // keeps a wait honest should that descriptor ever lag behind the clock.
    if (const auto Next = Queue ? Queue->UntilNextTimer() : std::nullopt) {
        const auto Ms = std::chrono::ceil<std::chrono::milliseconds>(*Next).count();
        if (Timeout < 0 || Ms < Timeout) Timeout = static_cast<int>(Ms);
    }
    // poll skips an entry whose descriptor is negative.
    pollfd Fds[2] = {{Queue ? Queue->Fd() : -1, POLLIN, 0}, {WatchFd, WatchEvents, 0}};
    const nfds_t Count = WatchFd >= 0 ? 2 : 1;
    const auto Start = std::chrono::steady_clock::now();
    // An interrupted wait simply ends early; the caller's loop tests its condition and waits again.
    if (::poll(Fds, Count, Timeout) <= 0 || Count == 1 || (Fds[0].revents & POLLIN) ||
        (Fds[1].revents & WatchEvents))
        return;
    // poll reports a hang-up or an error of the watched descriptor whatever was asked for (a socket that
    // was never connected hangs up at once); that is not the event waited for, and returning on it would
    // make the caller's loop spin. The rest of the time is spent waiting on the queue alone.
    if (Timeout >= 0) {
        const auto Spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Start);
        Timeout = std::max(0, Timeout - static_cast<int>(Spent.count()));
    }
    ::poll(Fds, 1, Timeout);
}

int QueueFd() {
    const auto Queue = ThisThreadQueue();
    return Queue ? Queue->Fd() : -1;
}

void SetEventHook(std::function<void()> Hook) {
    EventHook = std::move(Hook);
}

} // namespace platform
