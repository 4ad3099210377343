#pragma once
// Arms a socket component's time-out for the length of one operation.
#include "net/TDovrel.h"

// TimerOn on entry, TimerOff on every way out, an exception included.
class TTimeoutScope {
public:
    explicit TTimeoutScope(TDovrel& Owner) : FOwner(Owner) { FOwner.TimerOn(); }
    ~TTimeoutScope() {
        try {
            FOwner.TimerOff();
        } catch (...) {
            // Disarming only kills a window timer; nothing here may replace the exception in flight.
        }
    }
    TTimeoutScope(const TTimeoutScope&) = delete;
    TTimeoutScope& operator=(const TTimeoutScope&) = delete;

private:
    TDovrel& FOwner;
};
