#include "app/TParallelRun.h"

#include "app/TSaveThrottle.h"
#include "app/Unit1.h"
#include "framework/Random.h"
#include "framework/TextHelpers.h"
#include "platform/Windows.h"

#include <algorithm>

namespace {

constexpr int DefaultMax = 20; // Max when the field does not hold an integer after a success

} // namespace

TParallelRun::TParallelRun(TForm1& Form, int Jobs)
    : FForm(Form), FJobs(std::max(Jobs, 1)),
      FWindow([this](platform::UINT Message, platform::WPARAM WParam, platform::LPARAM) {
          if (Message == TVisitWorker::DoneMessage) FDone.push_back(static_cast<int>(WParam));
      }) {}

// The workers go first: each aborts its visit and is waited for.
TParallelRun::~TParallelRun() {
    FWorkers.clear();
}

void TParallelRun::Execute() {
    for (;;) {
        if (!FEnding) StartVisits();
        if (FBusy == 0 && (FEnding || FNext >= FForm.Memo1->LineCount())) break;
        Wait();
        if (FForm.StopRequested() && !FEnding) EndRun();
        ApplyOutcomes();
    }
    FWorkers.clear();
}

void TParallelRun::StartVisits() {
    for (;;) {
        // The line is taken only when a worker is free for it.
        const int Saved = FNext;
        std::string Line;
        const int Index = NextLine(Line);
        if (Index < 0) return;
        TVisitWorker* Worker = FreeWorker();
        if (!Worker) {
            FNext = Saved;
            return;
        }

        // Drawn here, on the form's thread, in the order a visit of one at a time draws them.
        const char* Program = LocalProgramFor(Rand());
        const int Draw = Rand();
        TUnderWay& Visit = FUnderWay[static_cast<size_t>(Worker->Number())];
        Visit.Index = Index;
        Visit.Kept = Line;
        Visit.Address = ParseProxyLine(Line);
        Visit.Started = FForm.Clock();
        Visit.Pause = FForm.PauseMax > 0 ? Draw % FForm.PauseMax : 0;
        FForm.StatusBar1->SetSimpleText("Get " + std::to_string(Index + 1) + ":" + Line);

        TVisitJob Job;
        Job.Plan = {Visit.Address.Host, Visit.Address.Port, Program, FForm.VisitTimeOut};
        std::vector<std::string> Targets = FForm.Memo2->Lines();
        for (std::string& Target : Targets) Target = Trim(Target);
        Job.Targets = TTargetSnapshot(std::move(Targets), Trim(FForm.Edit1->Text()));
        Worker->Start(std::move(Job));
        ++FBusy;
        if (FForm.OnVisitStart) FForm.OnVisitStart(&FForm, Index);
    }
}

int TParallelRun::NextLine(std::string& Line) {
    // An empty line is not visited and keeps its text, as in a run of one at a time.
    while (FNext < FForm.Memo1->LineCount()) {
        const int Index = FNext++;
        Line = Trim(FForm.Memo1->Line(Index));
        if (!Line.empty()) return Index;
    }
    return -1;
}

TVisitWorker* TParallelRun::FreeWorker() {
    const TTime Now = FForm.Clock();
    while (!FPausing.empty() && FPausing.top().first <= Now) {
        FIdle.push_back(FPausing.top().second);
        FPausing.pop();
    }
    if (!FIdle.empty()) {
        const int Number = FIdle.front();
        FIdle.pop_front();
        return FWorkers[static_cast<size_t>(Number)].get();
    }
    if (!FCanGrow || static_cast<int>(FWorkers.size()) >= FJobs) return nullptr;
    const int Number = static_cast<int>(FWorkers.size());
    try {
        FWorkers.push_back(
            std::make_unique<TVisitWorker>(Number, FForm.WorkerScratchFile(Number + 1), FWindow.Handle()));
    } catch (...) {
        // Out of threads or descriptors: the run goes on with the workers it has, if it has any.
        if (FWorkers.empty()) throw;
        FCanGrow = false;
        return nullptr;
    }
    FUnderWay.resize(FWorkers.size());
    return FWorkers.back().get();
}

void TParallelRun::Wait() {
    if (!FDone.empty()) return;
    // Until an outcome comes, a stop is asked for (by a handler the pump runs), or the next worker's
    // pause ends while lines wait for it.
    int Timeout = -1;
    if (!FEnding && !FPausing.empty() && FNext < FForm.Memo1->LineCount()) {
        const auto Left = std::chrono::ceil<std::chrono::milliseconds>(FPausing.top().first - FForm.Clock());
        Timeout = static_cast<int>(std::max<long long>(Left.count(), 0));
    }
    platform::WaitForWork(Timeout);
    platform::ProcessMessages();
}

void TParallelRun::ApplyOutcomes() {
    while (!FDone.empty()) {
        const int Number = FDone.front();
        FDone.pop_front();
        Apply(*FWorkers[static_cast<size_t>(Number)]);
    }
}

void TParallelRun::Apply(TVisitWorker& Worker) {
    const TVisitOutcome Outcome = Worker.TakeOutcome();
    const TUnderWay& Visit = FUnderWay[static_cast<size_t>(Worker.Number())];
    --FBusy;

    TVisitResult Report;
    Report.Index = Visit.Index;
    Report.Milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(FForm.Clock() - Visit.Started).count();
    Report.Failure = Outcome.Fetched ? std::string() : Outcome.Failure;
    bool MaxReached = false;
    if (FEnding) {
        // Aborted by a stop or by the Max-th success: the proxy did not fail, its line keeps its text.
        Report.Mark = TProxyMark::None;
    } else {
        Report.Mark = MarkFor(Outcome.Fetched, Visit.Kept);
        FForm.Memo1->SetLine(Visit.Index, MarkedLine(Visit.Address, Report.Mark));
        if (Outcome.Fetched) {
            ++FSuccessCounter;
            // Read as typed, not trimmed: "7 " counts as the default here.
            MaxReached = StrToIntDef(FForm.Edit2->Text(), DefaultMax) < FSuccessCounter;
        }
    }
    Report.Count = FForm.Memo1->LineCount();
    Report.Line = Visit.Index < Report.Count ? FForm.Memo1->Line(Visit.Index) : std::string();
    if (FForm.OnVisitResult) FForm.OnVisitResult(&FForm, Report);

    if (MaxReached) {
        EndRun();
    } else if (!FEnding) {
        // The Max-th success is not saved by itself, as in a run of one at a time; the close saves it.
        FForm.FSaves->Changed();
    }

    if (Visit.Pause > 0)
        FPausing.emplace(FForm.Clock() + std::chrono::milliseconds(Visit.Pause), Worker.Number());
    else
        FIdle.push_back(Worker.Number());
}

void TParallelRun::EndRun() {
    FEnding = true;
    for (const std::unique_ptr<TVisitWorker>& Worker : FWorkers) {
        // A worker that is not visiting ignores it; its next job would reset it, but none comes.
        Worker->Abort();
    }
}
