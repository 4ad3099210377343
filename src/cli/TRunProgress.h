#pragma once
// Where a run stands, for the progress line: proxies done of those to visit, the marks they got, the
// visits under way, the rate so far and the time the rest will take at that rate.
#include "app/ProxyList.h"

#include <chrono>
#include <cstddef>
#include <string>

class TRunProgress {
public:
    using TTime = std::chrono::steady_clock::time_point;

    // The first visit begins at Now; the run visits Total proxies at most.
    void Begin(int Total, TTime Now);
    // A visit began.
    void Started() { ++FUnderWay; }
    // A visit ended with this mark (None: a stop cut it short).
    void Finished(TProxyMark Mark);

    // Nothing to show before Begin.
    bool Begun() const { return FBegun; }

    // The line as of Now, UTF-8, fitted into Columns of a terminal: the parts at its end are left out
    // where the whole would not fit, so the terminal never wraps it. Say
    //   "37/120 done (○ 5, △ 2, × 30), 8 under way, 3.1/s, 27s left"
    std::string Text(TTime Now, size_t Columns) const;

private:
    bool FBegun = false;
    int FTotal = 0;
    TTime FStart;
    int FUnderWay = 0;
    int FSuccess = 0;
    int FFallback = 0;
    int FFailure = 0;
    int FStopped = 0;
};
