#pragma once
// One run of the window's logic without a window: the form over in-memory controls, loaded from the
// settings file and saved back to it as the window does (FormShow, Button1Click, FormClose), with the
// status texts and the visit results written out by a TConsole and SIGINT/SIGTERM as a stop.
#include "app/ProgramOptions.h"

class TCliRun {
public:
    // Exit statuses.
    static constexpr int Done = 0;
    static constexpr int Failed = 1;   // the run raised, or the settings could not be saved at its end
    static constexpr int Unusable = 2; // a bad option or an unusable settings file; nothing was changed
    // This computer ran out of descriptors, memory or disk during a visit: no proxy was blamed, the run
    // stopped and saved. Worth running again once the shortage is over.
    static constexpr int LocalStop = 3;
    static constexpr int Stopped = 130;

    explicit TCliRun(const TProgramOptions& Options) : FOptions(Options) {}
    int Execute();

private:
    TProgramOptions FOptions;
};
