#pragma once
// SIGTERM, SIGHUP and SIGINT (a logout, kill, Ctrl+C in the terminal that started the program) as a close
// of the window: the settings are saved as a close saves them, and a run under way stops as a close
// stops it. The handler records the first signal and wakes Qt's loop through a pipe; the loop, or the
// socket layer's waits that run Qt's events, then emit Received on the GUI thread. A second signal while
// that close is under way ends the program at once, the way the signal ends a program that does not
// handle it. One object per program; the earlier dispositions come back when it goes.
#include <QObject>

#include <csignal>
#include <memory>

class QSocketNotifier;

class TCloseSignals : public QObject {
    Q_OBJECT

public:
    explicit TCloseSignals(QObject* Parent = nullptr);
    ~TCloseSignals() override;

    // True once for a received signal whose close has not been delivered yet, and delivers it: a wait that
    // does not run the loop (the pause between two proxies) asks here and closes itself; Received is then
    // not emitted for it.
    static bool Take();
    // True while a received signal's close has not been delivered.
    static bool Pending();

signals:
    void Received();

private:
    void Deliver();

    int FPipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> FNotifier;
    struct sigaction FOld[3]{};
    bool FInstalled[3] = {false, false, false};
};
