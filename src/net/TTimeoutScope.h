#pragma once
// Arms a socket component's time-out for the length of one operation.
#include "net/TDovrel.h"

// TimerOn on entry, TimerOff on every way out, an exception included. Scopes nest: one opened inside
// another (the lines of a response header inside the header) leaves the timer to the outer one, so the
// time-out limits the outer operation as a whole.
class TTimeoutScope {
public:
    explicit TTimeoutScope(TDovrel& Owner) : FOwner(Owner) {
        if (FOwner.FTimeoutScopes == 0) FOwner.TimerOn();
        ++FOwner.FTimeoutScopes;
    }
    ~TTimeoutScope() {
        if (--FOwner.FTimeoutScopes > 0) return;
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
