#pragma once
// The visits of a run with many proxies at once, after the preparation: up to Jobs proxies visited at
// the same time, each by a worker thread of its own (TVisitWorker), while the form's thread alone reads
// and rewrites the lists, counts the successes, draws from the random generator and saves the file.
//
// The form's thread starts a visit on every free worker, line after line from the top: it draws the
// browser row and the pause for the visit, shows "Get i:line", and hands the worker the proxy, the row,
// the time-out and the targets. It then waits in the message pump (the window stays serviced) for the
// workers' outcomes and marks each line as a run of one proxy at a time would. A worker takes its next
// visit once its pause after the last one is over. At the Max-th success, or when a stop is asked for, no
// visit starts any more and the visits under way are aborted; their lines keep their text.
//
// A visit that this computer failed (no descriptor, memory or disk: LocalFailure.h) marks nothing: its
// line is visited again before the lines not yet visited, and the run goes on with half as many visits at
// a time as were under way, the workers beyond that number ending as they become free. Visits that were
// already under way when the number was lowered lower it no further. When a visit made while only one
// was allowed fails so, nothing else would succeed either: the run stops (LocalFailure()).
#include "app/ProxyList.h"
#include "app/THiddenWindow.h"
#include "app/TVisitWorker.h"

#include <chrono>
#include <deque>
#include <exception>
#include <memory>
#include <queue>
#include <string>
#include <vector>

class TForm1;

class TParallelRun {
public:
    TParallelRun(TForm1& Form, int Jobs);
    ~TParallelRun();
    TParallelRun(const TParallelRun&) = delete;
    TParallelRun& operator=(const TParallelRun&) = delete;

    // Runs the list to its end, to the Max-th success, to a stop or to a local failure it cannot get past;
    // every worker has ended when it returns, also when it raises.
    void Execute();

    // The failure of this computer that stopped the run; null when none did.
    const std::exception_ptr& LocalFailure() const { return FLocalFailure; }
    // The line it left unmarked; -1 when it came before any visit (no worker could be made).
    int LocalFailureLine() const { return FLocalFailureLine; }

private:
    using TTime = std::chrono::steady_clock::time_point;

    // The visit a worker is making, as the form's thread knows it.
    struct TUnderWay {
        int Index = 0;
        std::string Kept; // the trimmed line as it stood, for the fallback mark
        TProxyAddress Address;
        TTime Started;
        int Pause = 0; // the worker's pause after this visit, in ms
        int Limit = 0; // visits allowed at a time when it started
    };

    void StartVisits();
    // The next line to visit (one left to visit again first), or -1 when none is left.
    int NextLine(std::string& Line);
    bool LinesLeft() const;
    TVisitWorker* FreeWorker();
    TVisitWorker* NewWorker();
    void Wait();
    void ApplyOutcomes();
    void Apply(TVisitWorker& Worker);
    void MeetLocalFailure(const TUnderWay& Visit, const std::exception_ptr& Error, int UnderWay);
    // Ends free workers while more live than the limit allows, which gives back their descriptors.
    void RetireSurplus();
    void Retire(int Number);
    // Stops the run: no visit starts any more, and every visit under way is aborted.
    void EndRun();

    TForm1& FForm;
    const int FJobs;
    THiddenWindow FWindow; // receives the workers' done messages
    // By worker number; a worker that was ended leaves an empty place, which the next new one takes.
    std::vector<std::unique_ptr<TVisitWorker>> FWorkers;
    std::vector<TUnderWay> FUnderWay; // by worker number
    std::deque<int> FDone;            // workers whose outcome has come, in arrival order
    std::deque<int> FIdle;            // workers free for a visit now
    // Workers in their pause, the one that is free soonest on top.
    std::priority_queue<std::pair<TTime, int>, std::vector<std::pair<TTime, int>>, std::greater<>> FPausing;
    std::deque<int> FAgain; // lines a local failure left, to visit before the others
    int FLimit;             // visits allowed at a time
    int FLive = 0;          // workers alive
    int FBusy = 0;
    int FNext = 0; // the next line to look at
    int FSuccessCounter = 1;
    bool FEnding = false;
    std::exception_ptr FLocalFailure;
    int FLocalFailureLine = -1;
};
