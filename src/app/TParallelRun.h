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
#include "app/ProxyList.h"
#include "app/THiddenWindow.h"
#include "app/TVisitWorker.h"

#include <chrono>
#include <deque>
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

    // Runs the list to its end, to the Max-th success or to a stop; every worker has ended when it
    // returns, also when it raises.
    void Execute();

private:
    using TTime = std::chrono::steady_clock::time_point;

    // The visit a worker is making, as the form's thread knows it.
    struct TUnderWay {
        int Index = 0;
        std::string Kept; // the trimmed line as it stood, for the fallback mark
        TProxyAddress Address;
        TTime Started;
        int Pause = 0; // the worker's pause after this visit, in ms
    };

    void StartVisits();
    // The next line to visit, or -1 when the list has been gone through.
    int NextLine(std::string& Line);
    TVisitWorker* FreeWorker();
    void Wait();
    void ApplyOutcomes();
    void Apply(TVisitWorker& Worker);
    // Stops the run: no visit starts any more, and every visit under way is aborted.
    void EndRun();

    TForm1& FForm;
    const int FJobs;
    THiddenWindow FWindow; // receives the workers' done messages
    std::vector<std::unique_ptr<TVisitWorker>> FWorkers;
    std::vector<TUnderWay> FUnderWay; // by worker number
    std::deque<int> FDone;            // workers whose outcome has come, in arrival order
    std::deque<int> FIdle;            // workers free for a visit now
    // Workers in their pause, the one that is free soonest on top.
    std::priority_queue<std::pair<TTime, int>, std::vector<std::pair<TTime, int>>, std::greater<>> FPausing;
    int FBusy = 0;
    int FNext = 0; // the next line to look at
    int FSuccessCounter = 1;
    bool FEnding = false;
    bool FCanGrow = true;
};
