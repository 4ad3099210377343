#include "app/Unit1.h"

#include "app/LocalFailure.h"
#include "app/MemoryControls.h"
#include "app/SettingsFile.h"
#include "app/TParallelRun.h"
#include "app/TSaveThrottle.h"
#include "framework/Random.h"
#include "framework/TextHelpers.h"
#include "platform/System.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

constexpr const char* SettingsFileName = "qelto.ini";
constexpr const char* ScratchFileName = "temp.html";
// The run's private folder: "<settings folder>.vindral-scratch-<pid>.<random>/".
constexpr const char* ScratchFolderPrefix = ".vindral-scratch-";

constexpr const char* ShakingStatus = "Shaking.";
constexpr int DefaultMax = 20; // Max when the field does not hold an integer after a success

// The folder part of a path, with its trailing "/"; empty for a bare file name.
std::string FolderOf(const std::string& FileName) {
    size_t Slash = FileName.rfind('/');
    return Slash == std::string::npos ? std::string() : FileName.substr(0, Slash + 1);
}

// Holds a flag up for the length of a scope, also when an exception passes.
class TFlagScope {
public:
    explicit TFlagScope(bool& Flag) : FFlag(Flag) { FFlag = true; }
    ~TFlagScope() { FFlag = false; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& FFlag;
};

// The target list and the From text as the window holds them, read afresh for every request: the user
// may edit both while a visit waits for the network.
class TFormTargets : public TVisitTargets {
public:
    TFormTargets(const TMemo& Memo2, const TEdit& Edit1) : FMemo2(Memo2), FEdit1(Edit1) {}
    int Count() const override { return FMemo2.LineCount(); }
    std::string Target(int Index) const override { return Trim(FMemo2.Line(Index)); }
    std::string Referer() const override { return Trim(FEdit1.Text()); }

private:
    const TMemo& FMemo2;
    const TEdit& FEdit1;
};

} // namespace

TForm1::TForm1(TComponent* AOwner, const TForm1Controls& Controls)
    : TComponent(AOwner), Memo1(Controls.Memo1), VexHTTP1(nullptr), Edit2(Controls.Edit2),
      StatusBar1(Controls.StatusBar1), Memo2(Controls.Memo2), Edit1(Controls.Edit1),
      PauseHook([](int Milliseconds) { platform::Sleep(static_cast<unsigned>(Milliseconds)); }) {
    // The component joins this form's list, which destroys it.
    VexHTTP1 = new TVexHTTP(this);
    SetDesignValues(*VexHTTP1, "VexHTTP1");
    FSaves = std::make_unique<TSaveThrottle>([this] { SaveSettings(); }, Clock, SaveInterval);
}

TForm1::~TForm1() = default;

void TForm1::FormCreate(TComponent*) {}

void TForm1::FormShow(TComponent*) {
    Memo1->Clear();
    Memo2->Clear();
    // Loaded into memory first, then handed to the boxes in one step each: a box that holds a document
    // would otherwise lay it out again for every one of a hundred thousand lines.
    TMemoryMemo Targets;
    TMemoryMemo Proxies;
    LoadSettingsFile(SettingsFile(), Targets, *Edit1, *Edit2, Proxies);
    Memo2->SetLines(Targets.Lines());
    Memo1->SetLines(Proxies.Lines());
}

TCloseAction TForm1::FormClose(TComponent*) {
    if (FRunning) {
        FCloseRequested = true;
        RequestStop();
        return TCloseAction::Later;
    }
    FSaves->SaveNow();
    return TCloseAction::Close;
}

void TForm1::Button1Click(TComponent*) {
    // A second press can arrive while a visit services the window's messages.
    if (FRunning) return;
    FRunning = true;
    FStopRequested = false;
    FCloseRequested = false;
    try {
        PrepareProxyList();
        if (Jobs > 1) {
            TParallelRun Run(*this, Jobs);
            Run.Execute();
            if (Run.LocalFailure()) StopOnLocalFailure(Run.LocalFailureLine(), Run.LocalFailure());
            // A stop saves at once; the end of the list or the Max-th success saves what still waits.
            if (FStopRequested)
                FSaves->SaveNow();
            else
                FSaves->Flush();
            StatusBar1->SetSimpleText("");
        } else {
            RunLoop();
        }
    } catch (...) {
        // Marks that wait for the disk are not left to a timer that may never run again.
        try {
            FSaves->Flush();
        } catch (...) {
        }
        EndRun();
        throw;
    }
    EndRun();
}

void TForm1::EndRun() {
    // The bodies' folder goes with everything in it; every visit of the run has ended.
    FScratchFolder.reset();
    FRunning = false;
    FStopRequested = false;
    if (std::exchange(FCloseRequested, false) && OnDeferredClose) OnDeferredClose(this);
}

void TForm1::RequestStop() {
    if (!FRunning || FStopRequested) return;
    FStopRequested = true;
    // Only a request in progress is aborted: an abort between requests would leave the component's
    // cancel flag set for no one. A run of many at once aborts its workers' visits itself.
    if (FVisiting) VexHTTP1->Abort();
}

void TForm1::PrepareProxyList() {
    CheckMax(*Edit2);
    StatusBar1->SetSimpleText(ShakingStatus);
    // The steps run on a copy of the lines, which nothing else can change meanwhile (nothing is pumped),
    // and the box takes the result in one step.
    std::vector<std::string> Lines = Memo1->Lines();
    ShuffleLines(Lines);
    PromoteSuccesses(Lines);
    RemoveRepeatedProxies(Lines);
    Memo1->SetLines(std::move(Lines));
}

void TForm1::RunLoop() {
    int SuccessCounter = 1;
    for (int I = 0; I < Memo1->LineCount(); ++I) {
        const std::string Line = Trim(Memo1->Line(I)); // kept with its mark, for the fallback test
        StatusBar1->SetSimpleText("Get " + std::to_string(I + 1) + ":" + Line);

        if (!Line.empty()) {
            const TProxyAddress Address = ParseProxyLine(Line);
            if (OnVisitStart) OnVisitStart(this, I);
            const auto Start = Clock();
            int Result = 0;
            LastVisitOutcome = {};
            {
                TFlagScope Visiting(FVisiting);
                Result = VisitProxy(Address.Host, Address.Port);
            }
            TVisitResult Report;
            Report.Index = I;
            Report.Milliseconds =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock() - Start).count();
            Report.Failure = Result == 1 ? std::string() : LastVisitError;
            // This computer failed, not the proxy: any other proxy would fail the same way now.
            const bool Local = Result != 1 && !FStopRequested && IsLocalFailure(LastVisitOutcome.Error);

            bool MaxReached = false;
            if (FStopRequested || Local) {
                // The user stopped the run, or this computer failed: the proxy did not fail, so its line
                // keeps its old text.
                Report.Mark = TProxyMark::None;
            } else {
                Report.Mark = MarkFor(Result == 1, Line);
                Memo1->SetLine(I, MarkedLine(Address, Report.Mark));
                if (Result == 1) {
                    ++SuccessCounter;
                    // Read as typed, not trimmed: "7 " counts as the default here.
                    MaxReached = StrToIntDef(Edit2->Text(), DefaultMax) < SuccessCounter;
                }
            }
            Report.Count = Memo1->LineCount();
            Report.Line = I < Report.Count ? Memo1->Line(I) : std::string();
            if (OnVisitResult) OnVisitResult(this, Report);
            if (Local) StopOnLocalFailure(I, LastVisitOutcome.Error);

            // The Max-th success ends the run at once: no pause, and no save of its own (the close saves
            // it); only results that still wait for the disk are saved.
            if (MaxReached) break;
            if (FStopRequested) {
                FSaves->SaveNow();
                break;
            }
        }

        // Drawn whatever the hook does, so the sequence of draws does not depend on the host.
        const int Draw = Rand();
        const int Pause = PauseMax > 0 ? Draw % PauseMax : 0;
        if (PauseHook) PauseHook(Pause);
        FSaves->Changed();
        if (FStopRequested) break;
    }
    FSaves->Flush();
    StatusBar1->SetSimpleText("");
}

int TForm1::SaveSettings() {
    // The lists are taken in one step each; the text is then built from memory.
    const TMemoryMemo Targets(Memo2->Lines());
    const TMemoryMemo Proxies(Memo1->Lines());
    return WriteFileAtomically(SettingsFile(), FormatSettingsFile(Targets, *Edit1, *Edit2, Proxies)) ? 1 : 0;
}

int TForm1::VisitProxy(const std::string& ProxyHost, int32_t ProxyPort) {
    const TVisitPlan Plan{ProxyHost, ProxyPort, LocalProgramFor(Rand()), VisitTimeOut, CaFile};
    try {
        TProxyVisit Visit(*VexHTTP1, ScratchFolder().File(ScratchFileName));
        LastVisitOutcome = Visit.Run(Plan, TFormTargets(*Memo2, *Edit1), [this] { return FStopRequested; });
    } catch (...) {
        // No folder for the bodies: a failure of this computer, which the run tells from the proxy's.
        LastVisitOutcome = FailedVisit(std::current_exception());
    }
    // A visit made outside a run leaves nothing behind either.
    if (!FRunning) FScratchFolder.reset();
    LastVisitError = LastVisitOutcome.Failure;
    return LastVisitOutcome.Fetched ? 1 : 0;
}

const platform::TPrivateFolder& TForm1::ScratchFolder() {
    if (!FScratchFolder) {
        const std::string Parent = ScratchParent();
        FScratchFolder = platform::TPrivateFolder::Create(Parent, ScratchFolderPrefix);
        if (!FScratchFolder)
            throw EFileCreateError("Cannot create a private folder in \"" + Parent + "\". " +
                                   std::strerror(errno));
    }
    return *FScratchFolder;
}

void TForm1::StopOnLocalFailure(int Index, const std::exception_ptr& Error) {
    const std::string Text = LocalStopText(Index, LocalFailureReason(Error));
    StatusBar1->SetSimpleText(Text);
    FSaves->SaveNow();
    throw ELocalFailure(Text);
}

std::string TForm1::SettingsFile() const {
    return FSettingsFile.empty() ? platform::ExecutableDirectory() + SettingsFileName : FSettingsFile;
}

void TForm1::SetSettingsFile(const std::string& FileName) {
    FSettingsFile = FileName;
}

void TForm1::SetSettingsFolder(const std::string& Folder) {
    FSettingsFile =
        Folder.empty() || Folder.back() == '/' ? Folder + SettingsFileName : Folder + "/" + SettingsFileName;
}

std::string TForm1::ScratchParent() const {
    return FolderOf(SettingsFile());
}

std::string TForm1::ScratchFile() const {
    return FScratchFolder ? FScratchFolder->File(ScratchFileName) : std::string();
}

std::string TForm1::WorkerScratchFile(int Number) {
    return ScratchFolder().File("temp-" + std::to_string(Number) + ".html");
}
