#pragma once
// SIGINT and SIGTERM as a request to stop the run. The handler only records the first signal; the
// program notices it where it waits (the socket layer's event hook and the pause) and stops the run
// there, on its own thread. A second signal while that stop is under way ends the program at once.
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

    // The first signal received, 0 while none has come.
    static int Received();
    // Blocks for up to Milliseconds and returns early once a signal has been received.
    static void Pause(int Milliseconds);

private:
    struct sigaction FOldInterrupt {};
    struct sigaction FOldTerminate {};
    bool FInstalledInterrupt = false;
    bool FInstalledTerminate = false;
};
