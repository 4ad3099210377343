#pragma once
// Bounds every wait of a socket component by one point in time for the length of a scope.
#include "net/TDovrel.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

// An operation made of many waits (a command with its look-ups, connects, requests and responses, over
// every redirect) gets Milliseconds for all of them together: once they have passed, the wait under way,
// and every later one, ends as the time-out timer would end it. 0 or less sets no bound. Scopes nest, and
// an inner one never extends the bound of an outer one.
class TDeadlineScope {
public:
    TDeadlineScope(TDovrel& Owner, int32_t Milliseconds) : FOwner(Owner), FSaved(Owner.FDeadline) {
        if (Milliseconds > 0)
            FOwner.FDeadline =
                std::min(FSaved, TDovrel::TClock::now() + std::chrono::milliseconds(Milliseconds));
    }
    ~TDeadlineScope() { FOwner.FDeadline = FSaved; }
    TDeadlineScope(const TDeadlineScope&) = delete;
    TDeadlineScope& operator=(const TDeadlineScope&) = delete;

private:
    TDovrel& FOwner;
    TDovrel::TClock::time_point FSaved;
};
