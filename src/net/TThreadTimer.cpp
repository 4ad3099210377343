#include "net/TThreadTimer.h"

#include "framework/Exceptions.h"
#include "platform/ApplicationExceptions.h"

namespace {

constexpr const char* TimerWindowClass = "TmrWindowClass";
constexpr uintptr_t TimerId = 1;

platform::LRESULT TimerWindowProc(platform::HWND Window, platform::UINT Message, platform::WPARAM WParam,
                                  platform::LPARAM LParam) {
    auto* Owner = reinterpret_cast<TThreadTimer*>(platform::GetWindowLongPtr(Window, 0));
    if (!Owner) return platform::DefWindowProc(Window, Message, WParam, LParam);
    if (Message == platform::WM_ACTIVATEAPP) return 0;
    return Owner->Wndproc(Message, WParam, LParam);
}

} // namespace

platform::HWND TmrAllocateHWnd(TThreadTimer* Timer) {
    platform::WNDCLASS Info;
    if (!platform::GetClassInfo(TimerWindowClass, &Info)) {
        platform::WNDCLASS Class;
        Class.ClassName = TimerWindowClass;
        Class.WndProc = TimerWindowProc;
        Class.WndExtra = sizeof(intptr_t);
        // Another thread may have registered it in between; only a class that is still missing fails.
        if (!platform::RegisterClass(Class) && !platform::GetClassInfo(TimerWindowClass, &Info)) return 0;
    }
    platform::HWND Window = platform::CreateWindowEx(TimerWindowClass);
    if (Window && Timer) platform::SetWindowLongPtr(Window, 0, reinterpret_cast<intptr_t>(Timer));
    return Window;
}

TThreadTimer::TThreadTimer(TComponent* AOwner) : TComponent(AOwner) {
    FEnabled = true;
    FInterval = 1000;
    // No system timer yet: there is no handler to fire.
    WindowHandle = TmrAllocateHWnd(this);
}

TThreadTimer::~TThreadTimer() {
    FEnabled = false;
    try {
        UpdateTimer();
    } catch (...) {
    }
    platform::DestroyWindow(WindowHandle);
}

void TThreadTimer::SetEnabled(bool Value) {
    if (FEnabled.exchange(Value) == Value) return;
    UpdateTimer();
}

void TThreadTimer::SetInterval(uint32_t Value) {
    if (FInterval.exchange(Value) == Value) return;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent Handler) {
    {
        std::lock_guard Guard(FHandlerLock);
        FOnTimer = std::move(Handler);
    }
    UpdateTimer();
}

TNotifyEvent TThreadTimer::OnTimer() const {
    std::lock_guard Guard(FHandlerLock);
    return FOnTimer;
}

uint32_t TThreadTimer::WantedInterval() const {
    if (!FEnabled || FInterval == 0) return 0;
    std::lock_guard Guard(FHandlerLock);
    return FOnTimer ? FInterval.load() : 0;
}

void TThreadTimer::UpdateTimer() {
    // A start always begins a full new period. The settings are read when the change is made, so a
    // setter on another thread that races this one cannot leave the timer as neither of them asked.
    if (!platform::ApplyTimer(WindowHandle, TimerId, [this] { return WantedInterval(); }))
        throw Exception("No Timer");
}

void TThreadTimer::Timer() {
    // A copy: the handler may replace itself.
    TNotifyEvent Handler = OnTimer();
    if (Handler) Handler(this);
}

platform::LRESULT TThreadTimer::Wndproc(platform::UINT Message, platform::WPARAM WParam,
                                        platform::LPARAM LParam) {
    if (Message == platform::WM_TIMER) {
        try {
            Timer();
        } catch (...) {
            // The tick counts as handled; the user hears of the failure through the application's
            // exception handler, and nothing unwinds through the message pump.
            platform::HandleApplicationException();
        }
        return 0;
    }
    return platform::DefWindowProc(WindowHandle, Message, WParam, LParam);
}
