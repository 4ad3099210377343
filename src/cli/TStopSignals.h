#pragma once
// SIGINT and SIGTERM as a request to stop the run. The handler only records the first signal; the
// program notices it where it waits (the socket layer's event hook and the pause) and stops the run
// there, on its own thread. A second signal while that stop is under way ends the program at once.
// SIGPIPE is ignored meanwhile: a write to a closed pipe fails instead of ending the program unsaved,
// and the output that meets the failure asks for the stop itself (Stop).
#include <csignal>

class TStopSignals {
public:
    // Installs the handler for both signals, also where the program started with one of them ignored (as
    // a background job of a script): a stop asked for by either signal is always served.
    TStopSignals();
    // Puts the earlier dispositions back.
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    // The first signal received (or stop asked for), 0 while none has come.
    static int Received();
    // Asks for the stop as the signal Cause would, unless a stop has been asked for already.
    static void Stop(int Cause);
    // Blocks for up to Milliseconds and returns early once a signal has been received.
    static void Pause(int Milliseconds);

private:
    struct sigaction FOldInterrupt {};
    struct sigaction FOldTerminate {};
    struct sigaction FOldPipe {};
    bool FInstalledInterrupt = false;
    bool FInstalledTerminate = false;
    bool FIgnoredPipe = false;
};
