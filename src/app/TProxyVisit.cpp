#include "app/TProxyVisit.h"

#include "framework/Exceptions.h"

#include <array>
#include <filesystem>
#include <system_error>

namespace {

constexpr std::array<const char*, 6> LocalPrograms = {
    "MSIE 5.5; Windows NT 5.0",
    "Mozilla/4.78 [ja] (Windows NT 5.0; U) ",
    "Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0)",
    "Mozilla/4.0 (compatible; MSIE 5.01; Windows 98)",
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)",
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)",
};

constexpr int32_t LowestPort = 1;
constexpr int32_t HighestPort = 65535;

// Removes the scratch file when the visit ends, whichever way: a body a proxy sent is never left on disk.
class TScratchRemoval {
public:
    explicit TScratchRemoval(const std::string& FileName) : FFileName(FileName) {}
    ~TScratchRemoval() { Remove(); }
    TScratchRemoval(const TScratchRemoval&) = delete;
    TScratchRemoval& operator=(const TScratchRemoval&) = delete;

    void Remove() {
        std::error_code Ignored;
        std::filesystem::remove(FFileName, Ignored);
    }

private:
    const std::string& FFileName;
};

} // namespace

TVisitOutcome FailedVisit(std::exception_ptr Error) {
    TVisitOutcome Outcome;
    Outcome.Error = Error;
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception& E) {
        Outcome.Failure = E.what();
    } catch (...) {
        Outcome.Failure = "Unknown exception";
    }
    return Outcome;
}

const char* LocalProgramFor(int Draw) {
    return LocalPrograms[static_cast<size_t>(Draw % 6)];
}

TVisitOutcome TProxyVisit::Run(const TVisitPlan& Plan, const TVisitTargets& Targets,
                               const TStopTest& Stopping) {
    // The host part of an empty URL: each Get takes the host from its own URL.
    FHttp.Host = "";
    FHttp.Port = 80;
    FHttp.Proxy = Plan.ProxyHost;
    FHttp.ProxyPort = Plan.ProxyPort;
    FHttp.TimeOut = Plan.TimeOut;
    // https targets go over TLS, which the component alone refuses.
    FHttp.SecureSocket = true;
    FHttp.CaFile = Plan.CaFile;
    FHttp.InputFileMode = true;
    FHttp.OutputFileMode = false;
    FHttp.Body = FScratchFile;
    FHttp.HeaderInfo->Referer = "";
    FHttp.HeaderInfo->LocalProgram = Plan.LocalProgram ? Plan.LocalProgram : "";
    // Nothing of an earlier visit (another proxy's) goes along with this one.
    FHttp.HeaderInfo->Cookie = "";
    TScratchRemoval Scratch(FScratchFile);

    // Without a proxy host the port is never used; with one it must be a port as it stands.
    if (!Plan.ProxyHost.empty() && (Plan.ProxyPort < LowestPort || Plan.ProxyPort > HighestPort))
        return FailedVisit(std::make_exception_ptr(
            ERangeError("Proxy port " + std::to_string(Plan.ProxyPort) + " out of range (1 to 65535)")));

    for (int I = 0; I < Targets.Count(); ++I) {
        FHttp.HeaderInfo->Referer = Targets.Referer();
        // A stop between two requests must not start the next one.
        if (Stopping && Stopping()) {
            TVisitOutcome Outcome;
            Outcome.Failure = "Stopped";
            return Outcome;
        }
        try {
            FHttp.Get(Targets.Target(I));
        } catch (...) {
            return FailedVisit(std::current_exception());
        }
        Scratch.Remove();
    }
    TVisitOutcome Outcome;
    Outcome.Fetched = true;
    return Outcome;
}

void SetDesignValues(TVexHTTP& Http, const std::string& Name) {
    Http.Name = Name;
    Http.SetState(TComponentState::Loading, true);
    Http.Port = 0;
    Http.ReportLevel = 0;
    Http.Body = "Default.htm";
    Http.Header = "Head.txt";
    Http.InputFileMode = false;
    Http.OutputFileMode = false;
    Http.ProxyPort = 0;
    Http.Loaded();
}
