#include "net/TThreadTimer.h"

#include "framework/Exceptions.h"

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
    if (Value == FEnabled) return;
    FEnabled = Value;
    UpdateTimer();
}

void TThreadTimer::SetInterval(uint32_t Value) {
    if (Value == FInterval) return;
    FInterval = Value;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent Handler) {
    FOnTimer = std::move(Handler);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer() {
    platform::KillTimer(WindowHandle, TimerId);
    if (FInterval != 0 && FEnabled && FOnTimer) {
        // A start always begins a full new period.
        if (platform::SetTimer(WindowHandle, TimerId, FInterval) == 0) throw Exception("No Timer");
    }
}

void TThreadTimer::Timer() {
    // A copy: the handler may replace itself.
    TNotifyEvent Handler = FOnTimer;
    if (Handler) Handler(this);
}

platform::LRESULT TThreadTimer::Wndproc(platform::UINT Message, platform::WPARAM WParam,
                                        platform::LPARAM LParam) {
    if (Message == platform::WM_TIMER) {
        try {
            Timer();
        } catch (...) {
            // The runtime has no application-wide exception handler to report it to; the tick counts as
            // handled either way, and the exception must not unwind through the message pump.
        }
        return 0;
    }
    return platform::DefWindowProc(WindowHandle, Message, WParam, LParam);
}
