#include "app/Unit1.h"

#include "app/ProxyList.h"
#include "app/SettingsFile.h"
#include "framework/Random.h"
#include "framework/TextHelpers.h"
#include "platform/System.h"

#include <array>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <utility>

namespace {

constexpr const char* SettingsFileName = "qelto.ini";
constexpr const char* ScratchFileName = "temp.html";

constexpr const char* ShakingStatus = "Shaking.";
constexpr int VisitTimeOut = 30000;
constexpr int DefaultMax = 20; // Max when the field does not hold an integer after a success

// Browser identifications, one drawn per visit. Rows 4 and 5 are the same on purpose (drawn twice as
// often), and row 1 ends with a blank.
constexpr std::array<const char*, 6> LocalPrograms = {
    "MSIE 5.5; Windows NT 5.0",
    "Mozilla/4.78 [ja] (Windows NT 5.0; U) ",
    "Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0)",
    "Mozilla/4.0 (compatible; MSIE 5.01; Windows 98)",
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)",
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)",
};

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

} // namespace

TForm1::TForm1(TComponent* AOwner, const TForm1Controls& Controls)
    : TComponent(AOwner), Memo1(Controls.Memo1), VexHTTP1(nullptr), Edit2(Controls.Edit2),
      StatusBar1(Controls.StatusBar1), Memo2(Controls.Memo2), Edit1(Controls.Edit1),
      PauseHook([](int Milliseconds) { platform::Sleep(static_cast<unsigned>(Milliseconds)); }) {
    // The component joins this form's list, which destroys it.
    VexHTTP1 = new TVexHTTP(this);
    VexHTTP1->Name = "VexHTTP1";
    VexHTTP1->SetState(TComponentState::Loading, true);
    VexHTTP1->Port = 0;
    VexHTTP1->ReportLevel = 0;
    VexHTTP1->Body = "Default.htm";
    VexHTTP1->Header = "Head.txt";
    VexHTTP1->InputFileMode = false;
    VexHTTP1->OutputFileMode = false;
    VexHTTP1->ProxyPort = 0;
    VexHTTP1->Loaded();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate(TComponent*) {}

void TForm1::FormShow(TComponent*) {
    Memo1->Clear();
    Memo2->Clear();
    LoadSettingsFile(SettingsFile(), *Memo2, *Edit1, *Edit2, *Memo1);
}

TCloseAction TForm1::FormClose(TComponent*) {
    if (FRunning) {
        FCloseRequested = true;
        RequestStop();
        return TCloseAction::Later;
    }
    SaveSettings();
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
        RunLoop();
    } catch (...) {
        EndRun();
        throw;
    }
    EndRun();
}

void TForm1::EndRun() {
    FRunning = false;
    FStopRequested = false;
    if (std::exchange(FCloseRequested, false) && OnDeferredClose) OnDeferredClose(this);
}

void TForm1::RequestStop() {
    if (!FRunning || FStopRequested) return;
    FStopRequested = true;
    // Only a request in progress is aborted: an abort between requests would leave the component's
    // cancel flag set for no one.
    if (FVisiting) VexHTTP1->Abort();
}

void TForm1::PrepareProxyList() {
    CheckMax(*Edit2);
    StatusBar1->SetSimpleText(ShakingStatus);
    ShuffleLines(*Memo1);
    PromoteSuccesses(*Memo1);
    RemoveRepeatedProxies(*Memo1);
}

void TForm1::RunLoop() {
    int SuccessCounter = 1;
    for (int I = 0; I < Memo1->LineCount(); ++I) {
        std::string Line = Trim(Memo1->Line(I));
        const std::string Kept = Line; // with its mark, for the fallback test
        StatusBar1->SetSimpleText("Get " + std::to_string(I + 1) + ":" + Line);

        if (!Line.empty()) {
            Line = Line.substr(0, Line.find('('));
            const size_t Colon = Line.find(':');
            const std::string Host = Colon == std::string::npos ? std::string() : Line.substr(0, Colon);
            const std::string PortText = Colon == std::string::npos ? Line : Line.substr(Colon + 1);
            const int32_t Port = StrToIntDef(PortText, 0);

            const auto Start = std::chrono::steady_clock::now();
            int Result = 0;
            {
                TFlagScope Visiting(FVisiting);
                Result = VisitProxy(Host, Port);
            }
            TVisitResult Report;
            Report.Index = I;
            Report.Milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - Start)
                                      .count();
            Report.Failure = Result == 1 ? std::string() : LastVisitError;

            bool MaxReached = false;
            if (FStopRequested) {
                // The user stopped the run: the proxy did not fail, so its line keeps its old text.
                Report.Mark = TProxyMark::None;
            } else if (Result == 1) {
                Report.Mark = TProxyMark::Success;
                Memo1->SetLine(I, Host + ":" + std::to_string(Port) + SuccessMark);
                ++SuccessCounter;
                // Read as typed, not trimmed: "7 " counts as the default here.
                MaxReached = StrToIntDef(Edit2->Text(), DefaultMax) < SuccessCounter;
            } else {
                const bool Before = Kept.find(SuccessChar) != std::string::npos ||
                                    Kept.find(FallbackChar) != std::string::npos;
                Report.Mark = Before ? TProxyMark::Fallback : TProxyMark::Failure;
                Memo1->SetLine(I, Host + ":" + std::to_string(Port) + (Before ? FallbackMark : FailureMark));
            }
            Report.Count = Memo1->LineCount();
            Report.Line = I < Report.Count ? Memo1->Line(I) : std::string();
            if (OnVisitResult) OnVisitResult(this, Report);

            // The Max-th success ends the run at once: no pause, no save (the close saves it).
            if (MaxReached) break;
            if (FStopRequested) {
                SaveSettings();
                break;
            }
        }

        // Drawn whatever the hook does, so the sequence of draws does not depend on the host.
        const int Draw = Rand();
        const int Pause = PauseMax > 0 ? Draw % PauseMax : 0;
        if (PauseHook) PauseHook(Pause);
        SaveSettings();
        if (FStopRequested) break;
    }
    StatusBar1->SetSimpleText("");
}

int TForm1::SaveSettings() {
    return WriteFileAtomically(SettingsFile(), FormatSettingsFile(*Memo2, *Edit1, *Edit2, *Memo1)) ? 1 : 0;
}

int TForm1::VisitProxy(const std::string& ProxyHost, int32_t ProxyPort) {
    const std::string Scratch = ScratchFile();
    const char* Program = LocalPrograms[static_cast<size_t>(Rand() % 6)];

    // The host part of an empty URL: each Get takes the host from its own URL.
    VexHTTP1->Host = "";
    VexHTTP1->Port = 80;
    VexHTTP1->Proxy = ProxyHost;
    VexHTTP1->ProxyPort = ProxyPort;
    VexHTTP1->TimeOut = VisitTimeOut;
    // https targets go over TLS, which the component alone refuses.
    VexHTTP1->SecureSocket = true;
    VexHTTP1->CaFile = CaFile;
    VexHTTP1->InputFileMode = true;
    VexHTTP1->OutputFileMode = false;
    VexHTTP1->Body = Scratch;
    VexHTTP1->HeaderInfo->Referer = "";
    VexHTTP1->HeaderInfo->LocalProgram = Program;
    LastVisitError.clear();

    for (int I = 0; I < Memo2->LineCount(); ++I) {
        VexHTTP1->HeaderInfo->Referer = Trim(Edit1->Text());
        // A stop between two requests must not start the next one.
        if (FStopRequested) {
            LastVisitError = "Stopped";
            return 0;
        }
        try {
            VexHTTP1->Get(Trim(Memo2->Line(I)));
        } catch (const std::exception& E) {
            LastVisitError = E.what();
            return 0;
        } catch (...) {
            LastVisitError = "Unknown exception";
            return 0;
        }
        std::error_code Ignored;
        std::filesystem::remove(Scratch, Ignored);
    }
    return 1;
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

std::string TForm1::ScratchFile() const {
    return FolderOf(SettingsFile()) + ScratchFileName;
}
