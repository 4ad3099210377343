#include "app/TSaveThrottle.h"

#include <algorithm>

namespace {

constexpr uintptr_t SaveTimerId = 1;

} // namespace

TSaveThrottle::TSaveThrottle(std::function<void()> Save, const std::function<TTime()>& Now,
                             const std::chrono::milliseconds& Interval)
    : FSave(std::move(Save)), FNow(Now), FInterval(Interval),
      FWindow([this](platform::UINT Message, platform::WPARAM WParam, platform::LPARAM) {
          if (Message == platform::WM_TIMER && WParam == SaveTimerId) OnTimer();
      }) {}

void TSaveThrottle::Changed() {
    FPending = true;
    const TTime Now = FNow();
    if (!FLastSave || Now - *FLastSave >= FInterval) {
        SaveNow();
        return;
    }
    if (FArmed) return;
    const auto Left = std::chrono::ceil<std::chrono::milliseconds>(*FLastSave + FInterval - Now).count();
    FArmed = platform::SetTimer(FWindow.Handle(), SaveTimerId,
                                static_cast<platform::UINT>(std::max<long long>(Left, 1))) != 0;
    // Without a timer the change is saved by the next one, or at the latest at the end of the run.
}

void TSaveThrottle::Flush() {
    if (FPending) SaveNow();
}

void TSaveThrottle::SaveNow() {
    if (FArmed) platform::KillTimer(FWindow.Handle(), SaveTimerId);
    FArmed = false;
    FPending = false;
    FLastSave = FNow();
    FSave();
}

void TSaveThrottle::OnTimer() {
    // The interval the waiting changes were held for has ended.
    Flush();
    if (FArmed) platform::KillTimer(FWindow.Handle(), SaveTimerId);
    FArmed = false;
}
