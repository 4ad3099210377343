#pragma once
// One run of the window's logic without a window: the form over in-memory controls, loaded from the
// settings file and saved back to it as the window does (FormShow, Button1Click, FormClose), with the
// status texts and the visit results written out by a TConsole, a progress line on a terminal, the
// working proxies written to the --output file at the end, and SIGINT/SIGTERM as a stop.
#include "cli/CliUsage.h"

class TCliRun {
public:
    // Exit statuses.
    static constexpr int Done = 0;
    static constexpr int Failed = 1; // the run raised, or the settings or the output could not be saved
    // A bad option or an unusable settings or output file; nothing was changed.
    static constexpr int Unusable = 2;
    // This computer ran out of descriptors, memory or disk during a visit: no proxy was blamed, the run
    // stopped and saved. Worth running again once the shortage is over.
    static constexpr int LocalStop = 3;
    static constexpr int Stopped = 130;

    explicit TCliRun(const TCliOptions& Options) : FOptions(Options) {}
    int Execute();

private:
    TCliOptions FOptions;
};
