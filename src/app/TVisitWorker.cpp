#include "app/TVisitWorker.h"

#include <utility>

TVisitWorker::TVisitWorker(int Number, std::string ScratchFile, platform::HWND ReportTo)
    : FNumber(Number), FScratchFile(std::move(ScratchFile)), FReportTo(ReportTo) {
    std::promise<platform::HWND> Ready;
    std::future<platform::HWND> Window = Ready.get_future();
    FThread = std::thread([this, &Ready] { Main(Ready); });
    try {
        FWindow = Window.get();
    } catch (...) {
        FThread.join();
        throw;
    }
}

TVisitWorker::~TVisitWorker() {
    platform::PostMessage(FWindow, QuitMessage, 0, 0);
    FThread.join();
}

void TVisitWorker::Start(TVisitJob Job) {
    FJob = std::move(Job);
    platform::PostMessage(FWindow, JobMessage, 0, 0);
}

void TVisitWorker::Abort() {
    platform::PostMessage(FWindow, AbortMessage, 0, 0);
}

void TVisitWorker::Main(std::promise<platform::HWND>& Ready) {
    std::unique_ptr<THiddenWindow> Window;
    try {
        Window = std::make_unique<THiddenWindow>(
            [this](platform::UINT Message, platform::WPARAM, platform::LPARAM) { OnMessage(Message); });
        FHttp = std::make_unique<TVexHTTP>(nullptr);
        SetDesignValues(*FHttp, "VexHTTP" + std::to_string(FNumber));
    } catch (...) {
        FHttp.reset();
        Ready.set_exception(std::current_exception());
        return;
    }
    // Ready belongs to the constructor, which returns once it is set: it is not touched after this.
    Ready.set_value(Window->Handle());

    // Nothing to do but wait for the form's messages; a visit's own waits serve them meanwhile.
    while (!FQuit) {
        platform::WaitForWork(-1);
        platform::ProcessMessages();
        if (FHasJob && !FQuit) RunJob();
    }
    // The component closes its connection; its windows and the worker's belong to this thread.
    FHttp.reset();
}

void TVisitWorker::OnMessage(platform::UINT Message) {
    switch (Message) {
    case JobMessage:
        FHasJob = true;
        FStopping = false;
        break;
    case QuitMessage:
        FQuit = true;
        [[fallthrough]];
    case AbortMessage:
        FStopping = true;
        // Only a request in progress is aborted: an abort between requests would leave the component's
        // cancel flag set for no one. The visit itself stops before its next request.
        if (FVisiting) FHttp->Abort();
        break;
    default:
        break;
    }
}

void TVisitWorker::RunJob() {
    FHasJob = false;
    const TVisitJob Job = std::move(FJob);
    TVisitOutcome Outcome;
    if (FStopping) {
        Outcome.Failure = "Stopped";
    } else {
        FVisiting = true;
        try {
            TProxyVisit Visit(*FHttp, FScratchFile);
            Outcome = Visit.Run(Job.Plan, Job.Targets, [this] { return FStopping; });
        } catch (...) {
            // Nothing may unwind out of the thread; what could not even be tried is an outcome too.
            Outcome = FailedVisit(std::current_exception());
        }
        FVisiting = false;
    }
    FOutcome = std::move(Outcome);
    platform::PostMessage(FReportTo, DoneMessage, static_cast<platform::WPARAM>(FNumber), 0);
}
