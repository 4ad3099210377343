#pragma once
// Saves that keep up with a fast run. Each change saves at once when the last save is at least Interval
// old; otherwise the change waits, with any that follow, for one save when that interval ends, made by a
// timer of the calling thread (served by its pump, also while a request of that thread waits). So a run
// that finishes hundreds of proxies a second writes the file once a second, and at most the results of
// the last interval wait for the disk.
#include "app/THiddenWindow.h"

#include <chrono>
#include <functional>
#include <optional>

class TSaveThrottle {
public:
    using TTime = std::chrono::steady_clock::time_point;

    // Save writes the file; Now and Interval are read at every change, so a test may change them.
    TSaveThrottle(std::function<void()> Save, const std::function<TTime()>& Now,
                  const std::chrono::milliseconds& Interval);
    TSaveThrottle(const TSaveThrottle&) = delete;
    TSaveThrottle& operator=(const TSaveThrottle&) = delete;

    // Something changed that the file must get.
    void Changed();
    // Saves at once when a change waits (the end of a run).
    void Flush();
    // Saves at once, whether or not a change waits (a stop, a close).
    void SaveNow();
    bool Pending() const { return FPending; }

private:
    void OnTimer();

    std::function<void()> FSave;
    const std::function<TTime()>& FNow;
    const std::chrono::milliseconds& FInterval;
    std::optional<TTime> FLastSave;
    bool FPending = false;
    bool FArmed = false;
    THiddenWindow FWindow;
};
