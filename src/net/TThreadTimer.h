#pragma once
// A timer component driven by a hidden window's WM_TIMER messages on the thread that created it.
//
// Its ticks run on the window's thread, while Enabled and Interval may be set from another one (a serve
// thread arms the time-out of a connection instance whose windows belong to the listening thread, and
// the tick disarms it there), so the setters are safe to call from any thread.
#include "framework/Events.h"
#include "framework/TComponent.h"
#include "platform/Windows.h"

#include <atomic>
#include <cstdint>
#include <mutex>

class TThreadTimer : public TComponent {
public:
    explicit TThreadTimer(TComponent* AOwner);
    ~TThreadTimer() override;

    void SetEnabled(bool Value);
    void SetInterval(uint32_t Value);
    void SetOnTimer(TNotifyEvent Handler);
    bool Enabled() const { return FEnabled; }
    uint32_t Interval() const { return FInterval; }
    TNotifyEvent OnTimer() const;

    // The window procedure's entry for every message but WM_ACTIVATEAPP.
    platform::LRESULT Wndproc(platform::UINT Message, platform::WPARAM WParam, platform::LPARAM LParam);

    platform::HWND WindowHandle = 0;

protected:
    // Fires OnTimer; descendants may do more.
    virtual void Timer();
    void UpdateTimer();

private:
    // The system timer's period as the settings ask for it now; 0 for none.
    uint32_t WantedInterval() const;

    std::atomic<uint32_t> FInterval{1000};
    mutable std::mutex FHandlerLock;
    TNotifyEvent FOnTimer;
    std::atomic<bool> FEnabled{true};
};

// Creates a hidden "TmrWindowClass" window bound to Timer; 0 when it cannot be made.
platform::HWND TmrAllocateHWnd(TThreadTimer* Timer);
