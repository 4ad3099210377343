// A failure of this computer is not a proxy's. When socket() finds no descriptor or no buffer space, or
// the disk refuses a body, the run leaves the line it was visiting unmarked, says why and stops; many at
// once, the line is visited again with fewer visits at a time, and the run stops only when a visit made
// alone fails so. No working proxy is ever marked failed for it, on screen or in the file.
#include "app/LocalFailure.h"
#include "app/ProxyList.h"
#include "net/SocketErrors.h"

#include "AppFixtures.h"
#include "HangGuard.h"
#include "support/FileFixtures.h"
#include "support/HttpPeer.h"
#include "support/SystemCallFailures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const std::string Ok = SuccessMark;

// What tells this computer's failures from a proxy's.
TEST(LocalFailure, IsTheMachinesShortageNeverThePeers) {
    struct Case {
        const char* Name;
        std::exception_ptr Error;
        bool Local;
    };
    const Case Cases[] = {
        {"NoDescriptor", std::make_exception_ptr(ESockError("10024:Too many open files", 10024)), true},
        {"NoBufferSpace", std::make_exception_ptr(ESockError("10055:No buffer space available", 10055)), true},
        {"NoSocketForANewComponent",
         std::make_exception_ptr(ESockError("Initializaton of windows sockets failed", 10024)), true},
        {"OutOfMemory", std::make_exception_ptr(std::bad_alloc()), true},
        {"DiskRefusedTheBody", std::make_exception_ptr(EStreamWriteError("Stream write error")), true},
        {"NoScratchFile", std::make_exception_ptr(EFileCreateError("Cannot create file")), true},
        {"NoThread", std::make_exception_ptr(std::system_error(EAGAIN, std::generic_category())), true},
        {"Refused", std::make_exception_ptr(ESockError("Connection Failed", 10061)), false},
        {"Reset", std::make_exception_ptr(ESockError("10054:Connection reset by peer", 10054)), false},
        {"TimedOut", std::make_exception_ptr(EAbortError("Socket readln aborted")), false},
        {"BodyPastTheLimit", std::make_exception_ptr(ERangeError("Response body longer than 64 bytes")), false},
        {"TooManyRedirects", std::make_exception_ptr(Exception("Too many redirects")), false},
        {"None", std::exception_ptr(), false},
    };
    for (const Case& C : Cases) EXPECT_EQ(IsLocalFailure(C.Error), C.Local) << C.Name;
    EXPECT_EQ(LocalFailureReason(Cases[2].Error), "Initializaton of windows sockets failed (10024)");
    EXPECT_EQ(LocalFailureReason(Cases[0].Error), "10024:Too many open files");
}

const std::string Response = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";

// Working proxies on loopback, one line each, every line marked as having worked before.
class WorkingProxies {
public:
    explicit WorkingProxies(int Count, const std::string& Reply = Response) {
        for (int I = 0; I < Count; ++I) {
            FPeers.push_back(std::make_unique<HttpPeer>(std::vector<HttpPeerReply>{OnePacket(Reply)}));
            List.push_back("127.0.0.1:" + std::to_string(FPeers.back()->Port()) + Ok);
        }
    }
    size_t Connections() const {
        size_t Count = 0;
        for (const auto& Peer : FPeers) Count += Peer->Connections();
        return Count;
    }
    Lines List;

private:
    std::vector<std::unique_ptr<HttpPeer>> FPeers;
};

// A status bar that logs its texts and lets a test act on one.
class TWatchedStatusBar : public TLoggingStatusBar {
public:
    using TLoggingStatusBar::TLoggingStatusBar;
    void SetSimpleText(const std::string& Value) override {
        TLoggingStatusBar::SetSimpleText(Value);
        if (OnText) OnText(Value);
    }
    std::function<void(const std::string&)> OnText;
};

// What a run made on a thread of its own came to.
struct TThreadRun {
    bool Filtered = false;
    std::string Raised; // the message of ELocalFailure, empty when the run ended otherwise
    Lines Memo;
    Lines Log;
    std::vector<TVisitResult> Results;
    std::string Status;
};

// When the thread's socket() calls start to fail.
enum class FailFrom { RunStart, SecondVisitStarted };

// A form made, and a run made, on a thread of its own, whose socket() calls fail with Errno from the
// given moment on: the shortage holds for that thread and the workers it starts later, and leaves the
// test's own threads (the peers) alone. The form's component has its socket from before.
TThreadRun RunWithFailingSockets(const std::string& Folder, const Lines& List, int Jobs, int Errno,
                                 FailFrom When) {
    TThreadRun Run;
    std::thread([&] {
        ResetRandomGenerator();
        TMemoryMemo Memo1;
        TMemoryMemo Memo2;
        TMemoryEdit Edit1{"Edit1"};
        TMemoryEdit Edit2{"100"};
        TWatchedStatusBar StatusBar1(Run.Log);
        TScriptedForm Form({&Memo1, &Memo2, &Edit1, &Edit2, &StatusBar1}, Run.Log);
        Form.SetSettingsFolder(Folder);
        Form.SaveInterval = std::chrono::milliseconds(0);
        Form.PauseMax = 0;
        Form.Jobs = Jobs;
        Memo1.SetLines(List);
        Memo2.SetLines({"http://127.0.0.1:9/page.html"});
        Form.OnVisitResult = [&](TForm1*, const TVisitResult& Result) { Run.Results.push_back(Result); };
        bool Failing = false;
        StatusBar1.OnText = [&](const std::string& Text) {
            if (When == FailFrom::SecondVisitStarted && !Failing && Text.rfind("Get 2:", 0) == 0)
                Failing = Run.Filtered = FailSystemCallsOnThisThread({SYS_socket}, Errno);
        };
        if (When == FailFrom::RunStart) Run.Filtered = FailSystemCallsOnThisThread({SYS_socket}, Errno);
        try {
            THangGuard Guard(60s, "a run without sockets");
            Form.Button1Click(&Form);
        } catch (const ELocalFailure& E) {
            Run.Raised = E.what();
        }
        Run.Memo = Memo1.Lines();
        Run.Status = StatusBar1.SimpleText();
    }).join();
    return Run;
}

Lines Sorted(Lines List) {
    std::sort(List.begin(), List.end());
    return List;
}

struct ShortageCase {
    const char* Name;
    int Errno;
    std::string Failure; // the visit's failure
    int Jobs;
};

void PrintTo(const ShortageCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class LocalFailureSockets : public FormFixture, public testing::WithParamInterface<ShortageCase> {};

// One at a time, the first visit still has the component's socket; the second finds none and cannot
// make one: the run stops there. Many at once, no worker can make its socket: the run stops before any
// visit. Either way every line keeps its mark of before, in the file too.
TEST_P(LocalFailureSockets, StopsTheRunAndMarksNothing) {
    const ShortageCase& Case = GetParam();
    WorkingProxies Proxies(4);
    const TThreadRun Run = RunWithFailingSockets(Folder.Path(), Proxies.List, Case.Jobs, Case.Errno, FailFrom::RunStart);
    if (!Run.Filtered) GTEST_SKIP() << "the kernel refuses seccomp filters";

    EXPECT_EQ(Sorted(Run.Memo), Sorted(Proxies.List));
    EXPECT_EQ(ReadFileBytes(SettingsPath()),
              "1\r\nhttp://127.0.0.1:9/page.html\r\nEdit1\r\n100\r\n4\r\n" + Run.Memo[0] + "\r\n" + Run.Memo[1] +
                  "\r\n" + Run.Memo[2] + "\r\n" + Run.Memo[3] + "\r\n");
    EXPECT_EQ(Run.Status, Run.Raised);
    EXPECT_NE(Run.Raised.find("this computer failed"), std::string::npos) << Run.Raised;
    if (Case.Jobs == 1) {
        ASSERT_EQ(Run.Results.size(), 2u);
        EXPECT_EQ(Run.Results[0].Mark, TProxyMark::Success);
        EXPECT_EQ(Run.Results[1].Mark, TProxyMark::None);
        EXPECT_EQ(Run.Results[1].Failure, Case.Failure);
        EXPECT_EQ(Run.Raised, "Stopped at line 2, left unmarked: this computer failed, not the proxy (" +
                                  Case.Failure + ")");
        EXPECT_EQ(Proxies.Connections(), 1u);
    } else {
        EXPECT_TRUE(Run.Results.empty());
        EXPECT_EQ(Run.Raised, "Stopped: this computer failed (" + Case.Failure + ")");
        EXPECT_EQ(Proxies.Connections(), 0u);
    }
    EXPECT_EQ(NamesIn(Folder.Path()), Lines{"qelto.ini"});
}

INSTANTIATE_TEST_SUITE_P(
    Table, LocalFailureSockets,
    testing::Values(
        ShortageCase{"ProcessOutOfDescriptorsOneAtATime", EMFILE, "10024:Too many open files", 1},
        ShortageCase{"SystemOutOfDescriptorsOneAtATime", ENFILE, "10024:Too many open files", 1},
        ShortageCase{"NoBufferSpaceOneAtATime", ENOBUFS, "10055:No buffer space available", 1},
        ShortageCase{"ProcessOutOfDescriptorsManyAtOnce", EMFILE,
                     "Initializaton of windows sockets failed (10024)", 4},
        ShortageCase{"SystemOutOfDescriptorsManyAtOnce", ENFILE,
                     "Initializaton of windows sockets failed (10024)", 4},
        ShortageCase{"NoBufferSpaceManyAtOnce", ENOBUFS, "Initializaton of windows sockets failed (10055)", 4}),
    [](const testing::TestParamInfo<ShortageCase>& Info) { return std::string(Info.param.Name); });

class LocalFailureWorkers : public FormFixture {};

// Many at once, the shortage begins once two workers are there: the third cannot be made, and the two
// visit every line, each marked as its proxy earns.
TEST_F(LocalFailureWorkers, ManyAtOnceGoesOnWithTheWorkersItCouldMake) {
    WorkingProxies Proxies(6);
    const TThreadRun Run =
        RunWithFailingSockets(Folder.Path(), Proxies.List, 4, EMFILE, FailFrom::SecondVisitStarted);
    if (!Run.Filtered) GTEST_SKIP() << "the kernel refuses seccomp filters";

    EXPECT_EQ(Run.Raised, "");
    EXPECT_EQ(Sorted(Run.Memo), Sorted(Proxies.List));
    EXPECT_EQ(Run.Results.size(), 6u);
    for (const TVisitResult& Result : Run.Results) EXPECT_EQ(Result.Mark, TProxyMark::Success);
    EXPECT_EQ(Proxies.Connections(), 6u);
    EXPECT_EQ(Run.Status, "");
}

// The disk refuses a body: a limit on the size of the process's files stands for a full disk, and holds
// for every thread. The settings file stays far below it.
constexpr rlim_t DiskRoom = 256 * 1024;
const std::string BigReply =
    "HTTP/1.0 200 OK\r\nContent-Length: 1048576\r\n\r\n" + std::string(1048576, 'b');
const std::string DiskFailure = "Stream write error: File too large";

class LocalFailureDisk : public FormFixture {
protected:
    LocalFailureDisk() : Big(1, BigReply), Small(5) {
        Memo2.SetLines({"http://127.0.0.1:9/page.html"});
        Form.PauseMax = 0;
        Lines List = Small.List;
        List.push_back(Big.List[0]);
        Memo1.SetLines(List);
        Form.OnVisitResult = [this](TForm1*, const TVisitResult& Result) {
            Results.push_back(Result);
            if (OnResult) OnResult(Result);
        };
    }
    ~LocalFailureDisk() override { std::signal(SIGXFSZ, FOldHandler); }

    // Runs the list; the message of ELocalFailure, or empty when the run ended otherwise.
    std::string Run() {
        THangGuard Guard(60s, "a run on a full disk");
        try {
            Form.Button1Click(&Form);
        } catch (const ELocalFailure& E) {
            return E.what();
        }
        return {};
    }

    // Every line as it was or with the success mark: nothing marked failed.
    void ExpectNoFailureMarks() const {
        for (const std::string& Line : Memo1.Lines()) EXPECT_EQ(Line, ProxyKey(Line) + Ok);
        std::string Saved = "1\r\nhttp://127.0.0.1:9/page.html\r\nEdit1\r\n100\r\n6\r\n";
        for (const std::string& Line : Memo1.Lines()) Saved += Line + "\r\n";
        EXPECT_EQ(ReadFileBytes(SettingsPath()), Saved);
        EXPECT_EQ(NamesIn(Folder.Path()), Lines{"qelto.ini"});
    }

    // Past the limit a write fails with EFBIG instead of ending the process with SIGXFSZ.
    void (*FOldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    WorkingProxies Big;
    WorkingProxies Small;
    std::vector<TVisitResult> Results;
    std::function<void(const TVisitResult&)> OnResult;
};

TEST_F(LocalFailureDisk, OneAtATimeStopsAtTheLineWhoseBodyItCannotKeep) {
    TLimitScope Limit(RLIMIT_FSIZE, DiskRoom);
    const std::string Raised = Run();
    Limit.Restore();

    ASSERT_FALSE(Results.empty());
    const TVisitResult& Last = Results.back();
    EXPECT_EQ(Last.Line, Big.List[0]);
    EXPECT_EQ(Last.Mark, TProxyMark::None);
    EXPECT_EQ(Last.Failure, DiskFailure);
    for (size_t I = 0; I + 1 < Results.size(); ++I) EXPECT_EQ(Results[I].Mark, TProxyMark::Success);
    EXPECT_EQ(Raised, "Stopped at line " + std::to_string(Last.Index + 1) +
                          ", left unmarked: this computer failed, not the proxy (" + DiskFailure + ")");
    EXPECT_EQ(StatusBar1.SimpleText(), Raised);
    ExpectNoFailureMarks();
}

// The disk has room again by the time the line comes round once more: it is visited again, with fewer
// visits at a time, and the run goes to its end.
TEST_F(LocalFailureDisk, ManyAtOnceVisitsTheLineAgainWithFewerAtATime) {
    Form.Jobs = 4;
    TLimitScope Limit(RLIMIT_FSIZE, DiskRoom);
    OnResult = [&](const TVisitResult& Result) {
        if (Result.Mark == TProxyMark::None) Limit.Restore();
    };
    EXPECT_EQ(Run(), "");
    Limit.Restore();

    ASSERT_EQ(Results.size(), 7u);
    int BigVisits = 0;
    for (const TVisitResult& Result : Results) {
        if (ProxyKey(Result.Line) != ProxyKey(Big.List[0])) {
            EXPECT_EQ(Result.Mark, TProxyMark::Success) << Result.Line;
            continue;
        }
        // First refused by the disk and left as it was, then fetched.
        EXPECT_EQ(Result.Mark, BigVisits++ == 0 ? TProxyMark::None : TProxyMark::Success);
        if (Result.Mark == TProxyMark::None) {
            EXPECT_EQ(Result.Failure, DiskFailure);
        }
    }
    EXPECT_EQ(BigVisits, 2);
    const size_t Said =
        std::count_if(Log.begin(), Log.end(), [](const std::string& Entry) {
            return Entry.find("left to visit again") != std::string::npos &&
                   Entry.find("at a time from now: this computer failed, not the proxy (" + DiskFailure + ")") !=
                       std::string::npos;
        });
    EXPECT_EQ(Said, 1u);
    EXPECT_EQ(StatusBar1.SimpleText(), "");
    ExpectNoFailureMarks();
}

// The disk stays full: the line is tried with fewer and fewer visits at a time, and when a visit made
// alone fails too, the run stops with the line unmarked.
TEST_F(LocalFailureDisk, ManyAtOnceStopsWhenAVisitMadeAloneFails) {
    Form.Jobs = 4;
    TLimitScope Limit(RLIMIT_FSIZE, DiskRoom);
    const std::string Raised = Run();
    Limit.Restore();

    std::vector<int> AtATime;
    for (const std::string& Entry : Log) {
        const size_t At = Entry.find(" left to visit again, ");
        if (At != std::string::npos) AtATime.push_back(std::stoi(Entry.substr(At + 22)));
    }
    ASSERT_FALSE(AtATime.empty());
    EXPECT_TRUE(std::is_sorted(AtATime.rbegin(), AtATime.rend()));
    EXPECT_EQ(AtATime.back(), 1);
    const TVisitResult& Last = Results.back();
    EXPECT_EQ(ProxyKey(Last.Line), ProxyKey(Big.List[0]));
    EXPECT_EQ(Last.Mark, TProxyMark::None);
    EXPECT_EQ(Raised, "Stopped at line " + std::to_string(Last.Index + 1) +
                          ", left unmarked: this computer failed, not the proxy (" + DiskFailure + ")");
    EXPECT_EQ(StatusBar1.SimpleText(), Raised);
    ExpectNoFailureMarks();
}

} // namespace
