#pragma once
// One visit of one proxy: every target URL fetched in list order with an HTTP GET through the proxy, by
// an HTTP component and into a scratch file that belong to whoever runs the visit (the form's own for a
// run of one proxy at a time, a worker's for a run of many). The first failure ends the visit. The
// outcome names the failure and carries the exception that ended it, so a caller can tell a proxy that
// failed from a visit that could not be made. Every visit starts without a cookie, and its scratch file
// is removed after each completed request and when the visit ends, however it ends.
#include "http/TVexHTTP.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

// The six browser identifications, one drawn per visit: row Draw mod 6. Rows 4 and 5 are the same text on
// purpose (drawn twice as often), and row 1 ends with a blank.
const char* LocalProgramFor(int Draw);

// Where a visit takes its targets and its Referer; both are read afresh before each request.
class TVisitTargets {
public:
    virtual ~TVisitTargets() = default;
    virtual int Count() const = 0;
    // Target Index, trimmed.
    virtual std::string Target(int Index) const = 0;
    // The From text, trimmed.
    virtual std::string Referer() const = 0;
};

// Targets and Referer as they stood when a visit was handed over.
class TTargetSnapshot : public TVisitTargets {
public:
    TTargetSnapshot() = default;
    TTargetSnapshot(std::vector<std::string> Targets, std::string Referer)
        : FTargets(std::move(Targets)), FReferer(std::move(Referer)) {}
    int Count() const override { return static_cast<int>(FTargets.size()); }
    std::string Target(int Index) const override { return FTargets[static_cast<size_t>(Index)]; }
    std::string Referer() const override { return FReferer; }

private:
    std::vector<std::string> FTargets;
    std::string FReferer;
};

// What a visit is asked to do, besides its targets.
struct TVisitPlan {
    std::string ProxyHost; // empty: straight to each target's own host
    int32_t ProxyPort = 0;
    const char* LocalProgram = nullptr;
    int32_t TimeOut = 30000; // of each wait, in ms
    std::string CaFile{};    // a certificate authority https targets may lead to besides the system's
};

struct TVisitOutcome {
    bool Fetched = false;
    // Why the visit failed: the message of the exception that ended it, "Stopped" for a visit that a stop
    // ended between two requests; empty after a success.
    std::string Failure;
    // The exception that ended the visit; null after a success or a stop between two requests.
    std::exception_ptr Error;
};

// The outcome of a visit that Error ended, named by its message.
TVisitOutcome FailedVisit(std::exception_ptr Error);

class TProxyVisit {
public:
    // True when the visit is to end before its next request.
    using TStopTest = std::function<bool()>;

    // Http is borrowed for the length of each Run. The scratch file should lie in a folder only this user
    // can enter: the component creates it by name, and the visit removes it.
    TProxyVisit(TVexHTTP& Http, std::string ScratchFile)
        : FHttp(Http), FScratchFile(std::move(ScratchFile)) {}

    // Sets the component up for the plan, then fetches every target. A proxy port outside 1..65535 fails
    // the visit before any request: the port must not be cut to 16 bits and so name another one.
    TVisitOutcome Run(const TVisitPlan& Plan, const TVisitTargets& Targets, const TStopTest& Stopping);

    const std::string& ScratchFile() const { return FScratchFile; }

private:
    TVexHTTP& FHttp;
    std::string FScratchFile;
};

// Gives a fresh HTTP component the values the window's VexHTTP1 has at design time.
void SetDesignValues(TVexHTTP& Http, const std::string& Name);
