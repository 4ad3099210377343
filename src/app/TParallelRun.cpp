#include "app/TParallelRun.h"

#include "app/LocalFailure.h"
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
      }),
      FLimit(FJobs) {}

// The workers go first: each aborts its visit and is waited for.
TParallelRun::~TParallelRun() {
    FWorkers.clear();
}

void TParallelRun::Execute() {
    for (;;) {
        if (!FEnding) StartVisits();
        if (FBusy == 0 && (FEnding || !LinesLeft())) break;
        Wait();
        if (FForm.StopRequested() && !FEnding) EndRun();
        ApplyOutcomes();
    }
    FWorkers.clear();
}

void TParallelRun::StartVisits() {
    while (!FEnding) {
        // The line is taken only when a worker is free for it.
        const int SavedNext = FNext;
        const bool Again = !FAgain.empty();
        std::string Line;
        const int Index = NextLine(Line);
        if (Index < 0) return;
        TVisitWorker* Worker = FreeWorker();
        if (!Worker) {
            if (Again)
                FAgain.push_front(Index);
            else
                FNext = SavedNext;
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
        Visit.Limit = FLimit;
        FForm.StatusBar1->SetSimpleText("Get " + std::to_string(Index + 1) + ":" + Line);

        TVisitJob Job;
        Job.Plan = {Visit.Address.Host, Visit.Address.Port, Program, FForm.VisitTimeOut, FForm.CaFile};
        std::vector<std::string> Targets = FForm.Memo2->Lines();
        for (std::string& Target : Targets) Target = Trim(Target);
        Job.Targets = TTargetSnapshot(std::move(Targets), Trim(FForm.Edit1->Text()));
        Worker->Start(std::move(Job));
        ++FBusy;
        if (FForm.OnVisitStart) FForm.OnVisitStart(&FForm, Index);
    }
}

int TParallelRun::NextLine(std::string& Line) {
    // A line left by a local failure kept its text; the list may have been edited since.
    while (!FAgain.empty()) {
        const int Index = FAgain.front();
        FAgain.pop_front();
        if (Index >= FForm.Memo1->LineCount()) continue;
        Line = Trim(FForm.Memo1->Line(Index));
        if (!Line.empty()) return Index;
    }
    // An empty line is not visited and keeps its text, as in a run of one at a time.
    while (FNext < FForm.Memo1->LineCount()) {
        const int Index = FNext++;
        Line = Trim(FForm.Memo1->Line(Index));
        if (!Line.empty()) return Index;
    }
    return -1;
}

bool TParallelRun::LinesLeft() const {
    return !FAgain.empty() || FNext < FForm.Memo1->LineCount();
}

TVisitWorker* TParallelRun::FreeWorker() {
    const TTime Now = FForm.Clock();
    while (!FPausing.empty() && FPausing.top().first <= Now) {
        FIdle.push_back(FPausing.top().second);
        FPausing.pop();
    }
    RetireSurplus();
    if (!FIdle.empty()) {
        const int Number = FIdle.front();
        FIdle.pop_front();
        return FWorkers[static_cast<size_t>(Number)].get();
    }
    return FLive < FLimit ? NewWorker() : nullptr;
}

TVisitWorker* TParallelRun::NewWorker() {
    size_t Number = 0;
    while (Number < FWorkers.size() && FWorkers[Number]) ++Number;
    try {
        auto Worker = std::make_unique<TVisitWorker>(static_cast<int>(Number),
                                                     FForm.WorkerScratchFile(static_cast<int>(Number) + 1),
                                                     FWindow.Handle());
        if (Number == FWorkers.size()) FWorkers.emplace_back();
        FWorkers[Number] = std::move(Worker);
    } catch (...) {
        // Out of threads, descriptors or disk: the run goes on with the workers it has. Without any, no
        // visit can be made at all, which is no proxy's failure.
        if (FLive == 0) {
            FLocalFailure = std::current_exception();
            FLocalFailureLine = -1;
            EndRun();
        } else {
            FLimit = FLive;
        }
        return nullptr;
    }
    ++FLive;
    FUnderWay.resize(FWorkers.size());
    return FWorkers[Number].get();
}

void TParallelRun::RetireSurplus() {
    while (FLive > FLimit && !FIdle.empty()) {
        Retire(FIdle.front());
        FIdle.pop_front();
    }
    while (FLive > FLimit && !FPausing.empty()) {
        Retire(FPausing.top().second);
        FPausing.pop();
    }
}

void TParallelRun::Retire(int Number) {
    // A free worker: its thread ends at once, with its connection and its descriptors.
    FWorkers[static_cast<size_t>(Number)].reset();
    --FLive;
}

void TParallelRun::Wait() {
    if (!FDone.empty()) return;
    // Until an outcome comes, a stop is asked for (by a handler the pump runs), or the next worker's
    // pause ends while lines wait for it.
    int Timeout = -1;
    if (!FEnding && !FPausing.empty() && LinesLeft()) {
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
    const int Number = Worker.Number();
    const TUnderWay Visit = FUnderWay[static_cast<size_t>(Number)];
    const int UnderWay = FBusy; // this visit included
    --FBusy;

    TVisitResult Report;
    Report.Index = Visit.Index;
    Report.Milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(FForm.Clock() - Visit.Started).count();
    Report.Failure = Outcome.Fetched ? std::string() : Outcome.Failure;
    // This computer failed, not the proxy: the line is no proxy's result yet.
    const bool Local = !FEnding && !Outcome.Fetched && IsLocalFailure(Outcome.Error);
    bool MaxReached = false;
    if (FEnding || Local) {
        // Aborted by a stop or by the Max-th success, or failed here: the proxy did not fail, its line
        // keeps its text.
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

    if (Local) {
        MeetLocalFailure(Visit, Outcome.Error, UnderWay);
    } else if (MaxReached) {
        EndRun();
    } else if (!FEnding) {
        // The Max-th success is not saved by itself, as in a run of one at a time; the close saves it.
        FForm.FSaves->Changed();
    }

    if (FLive > FLimit)
        Retire(Number);
    else if (Visit.Pause > 0)
        FPausing.emplace(FForm.Clock() + std::chrono::milliseconds(Visit.Pause), Number);
    else
        FIdle.push_back(Number);
}

void TParallelRun::MeetLocalFailure(const TUnderWay& Visit, const std::exception_ptr& Error, int UnderWay) {
    if (Visit.Limit == 1) {
        // It was made alone and still failed: fewer visits would not help.
        FLocalFailure = Error;
        FLocalFailureLine = Visit.Index;
        EndRun();
        return;
    }
    FAgain.push_back(Visit.Index);
    // Visits started before the last lowering met the same shortage; only a newer one lowers again.
    if (Visit.Limit == FLimit) {
        FLimit = std::max(1, std::min(FLimit, UnderWay) / 2);
        RetireSurplus();
    }
    FForm.StatusBar1->SetSimpleText(LocalRetryText(Visit.Index, LocalFailureReason(Error), FLimit));
}

void TParallelRun::EndRun() {
    FEnding = true;
    for (const std::unique_ptr<TVisitWorker>& Worker : FWorkers) {
        // A worker that is not visiting ignores it; its next job would reset it, but none comes.
        if (Worker) Worker->Abort();
    }
}
