#pragma once
// A timer component driven by a hidden window's WM_TIMER messages on the thread that created it.
#include "framework/Events.h"
#include "framework/TComponent.h"
#include "platform/Windows.h"

#include <cstdint>

class TThreadTimer : public TComponent {
public:
    explicit TThreadTimer(TComponent* AOwner);
    ~TThreadTimer() override;

    void SetEnabled(bool Value);
    void SetInterval(uint32_t Value);
    void SetOnTimer(TNotifyEvent Handler);
    bool Enabled() const { return FEnabled; }
    uint32_t Interval() const { return FInterval; }
    const TNotifyEvent& OnTimer() const { return FOnTimer; }

    // The window procedure's entry for every message but WM_ACTIVATEAPP.
    platform::LRESULT Wndproc(platform::UINT Message, platform::WPARAM WParam, platform::LPARAM LParam);

    platform::HWND WindowHandle = 0;

protected:
    // Fires OnTimer; descendants may do more.
    virtual void Timer();
    void UpdateTimer();

private:
    uint32_t FInterval = 1000;
    TNotifyEvent FOnTimer;
    bool FEnabled = true;
};

// Creates a hidden "TmrWindowClass" window bound to Timer; 0 when it cannot be made.
platform::HWND TmrAllocateHWnd(TThreadTimer* Timer);
