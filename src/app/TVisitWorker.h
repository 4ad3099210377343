#pragma once
// A thread that visits proxies for a run of many at once. It has its own message queue, its own HTTP
// component and its own scratch file, and touches nothing of the form: the form's thread hands it one job
// at a time with everything the visit needs, and it posts one outcome back, which only the form's thread
// applies (work on the worker, done on the owner).
//
// Job and outcome change hands through the message queues: the form's thread fills the job before it
// posts the job message and reads the outcome after the done message has reached it; the worker reads
// the job after the job message and fills the outcome before it posts the done message. So neither needs
// a lock, and each is touched by one thread at a time.
#include "app/THiddenWindow.h"
#include "app/TProxyVisit.h"
#include "http/TVexHTTP.h"

#include <future>
#include <memory>
#include <string>
#include <thread>

struct TVisitJob {
    TVisitPlan Plan;
    TTargetSnapshot Targets;
};

class TVisitWorker {
public:
    // Posted to the window the worker reports to when a job is done; WParam is the worker's number.
    static constexpr platform::UINT DoneMessage = platform::WM_USER + 40;

    // Starts the thread and returns once it is ready for jobs; throws what kept it from getting ready
    // (no thread, no descriptors for its queue or its socket).
    TVisitWorker(int Number, std::string ScratchFile, platform::HWND ReportTo);
    // Aborts a visit under way, ends the thread and waits for it; the thread's component and window go
    // with it, so no connection of the worker stays open.
    ~TVisitWorker();
    TVisitWorker(const TVisitWorker&) = delete;
    TVisitWorker& operator=(const TVisitWorker&) = delete;

    int Number() const { return FNumber; }
    const std::string& ScratchFile() const { return FScratchFile; }

    // Form's thread. Hands a job over; only while the worker has none (its last outcome was taken).
    void Start(TVisitJob Job);
    // Form's thread. Aborts the visit under way through the worker's own queue; its outcome still comes,
    // as a failure. A job handed over but not begun ends before its first request.
    void Abort();
    // Form's thread. The outcome of the job, once the done message of this worker has arrived.
    TVisitOutcome TakeOutcome() { return std::move(FOutcome); }

private:
    static constexpr platform::UINT JobMessage = platform::WM_USER + 41;
    static constexpr platform::UINT AbortMessage = platform::WM_USER + 42;
    static constexpr platform::UINT QuitMessage = platform::WM_USER + 43;

    void Main(std::promise<platform::HWND>& Ready);
    void OnMessage(platform::UINT Message);
    void RunJob();

    const int FNumber;
    const std::string FScratchFile;
    const platform::HWND FReportTo;
    platform::HWND FWindow = 0; // the worker's window, known once the thread is ready

    TVisitJob FJob;         // filled by the form's thread, read by the worker
    TVisitOutcome FOutcome; // filled by the worker, read by the form's thread

    // The worker's own state, touched by its thread alone.
    std::unique_ptr<TVexHTTP> FHttp;
    bool FHasJob = false;
    bool FStopping = false;
    bool FVisiting = false;
    bool FQuit = false;

    std::thread FThread;
};
