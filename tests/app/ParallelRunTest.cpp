// Many proxies at once. Over one table of loopback proxies (working, refused, silent, reset, cut in the
// header, keep-alive with a length), a run of 1, 8 and 64 visits at a time gives every line the mark its
// own visit earns and the same saved file. The Max-th success and a stop abort the visits under way and
// leave their lines as they were; no worker thread and no connection outlives the run.
#include "app/ProxyList.h"
#include "framework/Random.h"
#include "framework/TextHelpers.h"
#include "platform/Windows.h"

#include "AppFixtures.h"
#include "HangGuard.h"
#include "support/HttpPeer.h"
#include "support/LoopbackPorts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <dirent.h>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const std::string Ok = SuccessMark;
const std::string Was = FallbackMark;
const std::string Bad = FailureMark;

constexpr const char* Response = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";

enum class PeerKind { Working, Refused, Silent, ResetAfterRequest, CutInHeader, KeepAliveWithLength };

// The proxies of a table, one loopback peer per line, and which kind each line's key points to.
class ProxyTable {
public:
    // Count lines of Kind.
    void Add(PeerKind Kind, int Count) {
        for (int I = 0; I < Count; ++I) {
            uint16_t Port = 0;
            if (Kind == PeerKind::Refused) {
                FClosed.push_back(std::make_unique<ClosedPort>());
                Port = FClosed.back()->Port();
            } else {
                FPeers.push_back(std::make_unique<HttpPeer>(std::vector<HttpPeerReply>{ReplyOf(Kind)}));
                Port = FPeers.back()->Port();
            }
            const std::string Key = "127.0.0.1:" + std::to_string(Port);
            Kinds[Key] = Kind;
            Keys.push_back(Key);
        }
    }

    static bool Works(PeerKind Kind) {
        return Kind == PeerKind::Working || Kind == PeerKind::KeepAliveWithLength;
    }

    // Connections all peers have taken.
    size_t Connections() const {
        size_t Count = 0;
        for (const auto& Peer : FPeers) Count += Peer->Connections();
        return Count;
    }
    // True once every connection any peer took has been closed by the client.
    bool AllClosed() const {
        for (const auto& Peer : FPeers)
            for (size_t I = 0; I < Peer->Connections(); ++I)
                if (!Peer->WaitClientClosed(I)) return false;
        return true;
    }

    std::map<std::string, PeerKind> Kinds;
    Lines Keys;

private:
    static HttpPeerReply ReplyOf(PeerKind Kind) {
        switch (Kind) {
        case PeerKind::Working:
            return OnePacket(Response);
        case PeerKind::Silent:
            return HttpPeerReply{{}, HttpPeerEnd::Silent};
        case PeerKind::ResetAfterRequest:
            return HttpPeerReply{{}, HttpPeerEnd::Reset};
        case PeerKind::CutInHeader:
            return OnePacket("HTTP/1.0 200 OK\r\nContent-Ty");
        case PeerKind::KeepAliveWithLength:
            return OnePacket(Response, HttpPeerEnd::HoldOpen);
        case PeerKind::Refused:
            break;
        }
        return {};
    }

    std::vector<std::unique_ptr<HttpPeer>> FPeers;
    std::vector<std::unique_ptr<ClosedPort>> FClosed;
};

// Threads of this process.
int ThreadCount() {
    int Count = 0;
    if (DIR* Tasks = ::opendir("/proc/self/task")) {
        while (const dirent* Entry = ::readdir(Tasks))
            if (Entry->d_name[0] != '.') ++Count;
        ::closedir(Tasks);
    }
    return Count;
}

// Installs the socket layer's event hook for the length of a scope; it runs inside every pump of the
// form's thread, where a close or a signal asks for a stop.
class THookScope {
public:
    explicit THookScope(std::function<void()> Hook) { platform::SetEventHook(std::move(Hook)); }
    ~THookScope() { platform::SetEventHook(nullptr); }
};

class ParallelRun : public FormFixture {
protected:
    ParallelRun() {
        Memo2.SetLines({"http://127.0.0.1:9/a.html", "http://127.0.0.1:9/b.html"});
        Form.OnVisitResult = [this](TForm1*, const TVisitResult& Result) {
            Results.push_back(Result);
            Log.push_back("result " + std::to_string(Result.Index) + " " + std::to_string(int(Result.Mark)));
        };
    }

    void Run(const std::string& What, std::chrono::milliseconds Bound = 60s) {
        THangGuard Guard(Bound, What);
        Form.Button1Click(&Form);
    }

    std::vector<TVisitResult> Results;
};

// The list of the table: every key once or twice, with earlier marks of every kind, and blank lines.
Lines TableList(const ProxyTable& Table) {
    const std::string Tails[] = {"", Ok, Was, Bad};
    Lines List;
    for (size_t I = 0; I < Table.Keys.size(); ++I) {
        List.push_back(Table.Keys[I] + Tails[I % 4]);
        if (I % 5 == 0) List.push_back(Table.Keys[I] + Tails[(I + 1) % 4]);
        if (I % 17 == 0) List.push_back(I % 2 ? "" : "  ");
    }
    return List;
}

// The lines a run must leave: the preparation's order, each visited line with the mark its peer earns.
Lines ExpectedLines(const ProxyTable& Table, Lines List) {
    ResetRandomGenerator();
    ShuffleLines(List);
    PromoteSuccesses(List);
    RemoveRepeatedProxies(List);
    for (std::string& Line : List) {
        const std::string Kept = Trim(Line);
        if (Kept.empty()) continue;
        const TProxyAddress Address = ParseProxyLine(Kept);
        const bool Fetched = ProxyTable::Works(Table.Kinds.at(ProxyKey(Kept)));
        Line = MarkedLine(Address, MarkFor(Fetched, Kept));
    }
    return List;
}

TEST_F(ParallelRun, MarksAndSavedFileAreTheSameAtOneEightAndSixtyFourAtATime) {
    ProxyTable Table;
    Table.Add(PeerKind::Working, 12);
    Table.Add(PeerKind::Refused, 12);
    Table.Add(PeerKind::Silent, 4);
    Table.Add(PeerKind::ResetAfterRequest, 12);
    Table.Add(PeerKind::CutInHeader, 12);
    Table.Add(PeerKind::KeepAliveWithLength, 12);
    const Lines List = TableList(Table);
    const Lines Expected = ExpectedLines(Table, List);
    Form.VisitTimeOut = 500; // what a silent proxy costs
    Form.PauseMax = 0;

    std::string FirstSaved;
    for (const int Jobs : {1, 8, 64}) {
        SCOPED_TRACE("jobs " + std::to_string(Jobs));
        ResetRandomGenerator();
        Memo1.SetLines(List);
        Results.clear();
        Form.Jobs = Jobs;
        Run("a run of " + std::to_string(Jobs) + " at a time");

        EXPECT_EQ(Memo1.Lines(), Expected);
        // One result per visited line, each with the mark it left.
        EXPECT_EQ(Results.size(), Table.Keys.size());
        for (const TVisitResult& Result : Results) {
            EXPECT_EQ(Result.Line, Expected[static_cast<size_t>(Result.Index)]);
            EXPECT_EQ(Result.Failure.empty(), Result.Mark == TProxyMark::Success) << Result.Line;
        }
        const std::string Saved = ReadFileBytes(SettingsPath());
        if (FirstSaved.empty())
            FirstSaved = Saved;
        else
            EXPECT_EQ(Saved, FirstSaved);
        EXPECT_EQ(StatusBar1.SimpleText(), "");
    }
    EXPECT_TRUE(Table.AllClosed());
}

// Two proxies that worked before come first; with Max 2 the second success ends the run while six
// silent ones are being visited: no visit starts after it, the six are aborted and keep their lines,
// and, as in a run of one at a time, the Max-th success is not saved by itself.
TEST_F(ParallelRun, MaxthSuccessAbortsTheVisitsUnderWay) {
    ProxyTable Table;
    Table.Add(PeerKind::Working, 2);
    Table.Add(PeerKind::Silent, 20);
    Lines List;
    for (size_t I = 0; I < Table.Keys.size(); ++I) List.push_back(Table.Keys[I] + (I < 2 ? Ok : ""));
    Memo1.SetLines(List);
    Edit2.SetText("2");
    Form.Jobs = 8;
    Form.VisitTimeOut = 60000;

    const auto Start = std::chrono::steady_clock::now();
    Run("a run that reaches Max with visits under way");
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 10s);

    ASSERT_EQ(Results.size(), 8u);
    int Successes = 0;
    for (const TVisitResult& Result : Results) {
        const bool Works = ProxyTable::Works(Table.Kinds.at(ProxyKey(Result.Line)));
        EXPECT_EQ(Result.Mark, Works ? TProxyMark::Success : TProxyMark::None) << Result.Line;
        Successes += Works;
    }
    EXPECT_EQ(Successes, 2);
    // Every line but the two successes as it was.
    for (const std::string& Line : Memo1.Lines()) {
        const bool Works = ProxyTable::Works(Table.Kinds.at(ProxyKey(Line)));
        EXPECT_EQ(Line, ProxyKey(Line) + (Works ? Ok : "")) << Line;
    }
    // No visit started after the Max-th success.
    size_t LastStart = 0;
    size_t LastSuccess = 0;
    for (size_t I = 0; I < Log.size(); ++I) {
        if (Log[I].rfind("status Get ", 0) == 0) LastStart = I;
        if (Log[I].rfind("result ", 0) == 0 && Log[I].back() == '0' + int(TProxyMark::Success))
            LastSuccess = I;
    }
    EXPECT_LT(LastStart, LastSuccess);
    EXPECT_EQ(CountStarting("status Get "), 8);
    // The first success was saved, the Max-th was not.
    EXPECT_EQ(Count("save"), 1);
    EXPECT_TRUE(Table.AllClosed());
}

// A stop while eight silent proxies are being visited (and refused ones have been marked) aborts the
// eight at once: their lines keep their text, the marks are saved, and no thread or connection is left.
TEST_F(ParallelRun, StopAbortsEveryVisitUnderWayAndSaves) {
    ProxyTable Table;
    Table.Add(PeerKind::Refused, 6);
    Table.Add(PeerKind::Silent, 16);
    Lines List = Table.Keys;
    Memo1.SetLines(List);
    Form.Jobs = 8;
    Form.PauseMax = 0;
    Form.VisitTimeOut = 60000;
    const int ThreadsBefore = ThreadCount();
    int ThreadsDuring = 0;
    THookScope Hook([&] {
        if (Form.StopRequested() || Table.Connections() < 8) return;
        ThreadsDuring = ThreadCount();
        Form.RequestStop();
    });

    const auto Start = std::chrono::steady_clock::now();
    Run("a run stopped with visits under way");
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 10s);

    EXPECT_GE(ThreadsDuring, ThreadsBefore + 8);
    EXPECT_EQ(ThreadCount(), ThreadsBefore);
    EXPECT_TRUE(Table.AllClosed());
    EXPECT_EQ(Table.Connections(), 8u);
    int Stopped = 0;
    for (const TVisitResult& Result : Results) {
        const PeerKind Kind = Table.Kinds.at(ProxyKey(Result.Line));
        EXPECT_EQ(Result.Mark, Kind == PeerKind::Refused ? TProxyMark::Failure : TProxyMark::None)
            << Result.Line;
        Stopped += Kind == PeerKind::Silent;
    }
    EXPECT_EQ(Stopped, 8);
    // Silent lines as they were, refused ones marked or not yet visited; the file holds the same.
    std::string Expected = "2\r\nhttp://127.0.0.1:9/a.html\r\nhttp://127.0.0.1:9/b.html\r\nEdit1\r\n100\r\n" +
                           std::to_string(List.size()) + "\r\n";
    for (const std::string& Line : Memo1.Lines()) {
        if (Table.Kinds.at(ProxyKey(Line)) == PeerKind::Silent) {
            EXPECT_EQ(Line, ProxyKey(Line));
        }
        Expected += Line + "\r\n";
    }
    EXPECT_EQ(ReadFileBytes(SettingsPath()), Expected);
    EXPECT_EQ(StatusBar1.SimpleText(), "");
    EXPECT_FALSE(Form.Running());
}

// A status bar that notes when each visit started, on the form's clock.
class TTimedStatusBar : public TMemoryStatusBar {
public:
    explicit TTimedStatusBar(std::function<std::chrono::steady_clock::time_point()> Clock)
        : FClock(std::move(Clock)) {}
    void SetSimpleText(const std::string& Value) override {
        if (Value.rfind("Get ", 0) == 0) Starts.push_back(FClock());
        TMemoryStatusBar::SetSimpleText(Value);
    }
    std::vector<std::chrono::steady_clock::time_point> Starts;

private:
    std::function<std::chrono::steady_clock::time_point()> FClock;
};

// Each worker pauses between its own visits, for the pause drawn with its last visit: two workers start
// the first two visits at once; the third starts when the first of their pauses has ended, the fourth
// when the next worker is free. The form's clock moves 100 ms at each turn of its pump.
TEST_F(ParallelRun, EachWorkerPausesBetweenItsOwnVisits) {
    ProxyTable Table;
    Table.Add(PeerKind::Refused, 4);
    Memo1.SetLines(Table.Keys);
    Form.Jobs = 2;
    Form.PauseMax = 15000;
    auto Now = std::chrono::steady_clock::time_point() + 1h;
    Form.Clock = [&Now] { return Now; };
    TTimedStatusBar Status(Form.Clock);
    Form.StatusBar1 = &Status;
    std::vector<std::chrono::steady_clock::time_point> Finished(4);
    Form.OnVisitResult = [&](TForm1*, const TVisitResult& Result) {
        Results.push_back(Result);
        Finished[static_cast<size_t>(Result.Index)] = Now;
    };
    THookScope Hook([&Now] { Now += 100ms; });
    Run("a run with pauses");

    ASSERT_EQ(Results.size(), 4u);
    ASSERT_EQ(Status.Starts.size(), 4u);
    // After the 24 draws of the shuffle, visit k draws its browser row, then its pause.
    const std::vector<int> Draws = ReferenceDraws(32);
    std::vector<std::chrono::steady_clock::time_point> Free(4);
    for (size_t K = 0; K < 4; ++K)
        Free[K] = Finished[K] + std::chrono::milliseconds(Draws[24 + 2 * K + 1] % 15000);
    const auto Turn = 100ms;
    EXPECT_EQ(Status.Starts[0], Status.Starts[1]);
    const auto FirstFree = std::min(Free[0], Free[1]);
    EXPECT_GE(Status.Starts[2], FirstFree);
    EXPECT_LE(Status.Starts[2], FirstFree + Turn);
    const auto NextFree = std::min(std::max(Free[0], Free[1]), Free[2]);
    EXPECT_GE(Status.Starts[3], NextFree);
    EXPECT_LE(Status.Starts[3], NextFree + Turn);
}

// What a watcher counts the visits under way by: every visit that begins ends in one result of its line,
// at most Jobs are under way at a time, also when a stop cuts them short.
TEST_F(ParallelRun, EveryVisitThatBeginsEndsInOneResult) {
    ProxyTable Table;
    Table.Add(PeerKind::Working, 4);
    Table.Add(PeerKind::Refused, 4);
    Table.Add(PeerKind::Silent, 4);
    Memo1.SetLines(Table.Keys);
    Form.Jobs = 3;
    Form.PauseMax = 0;
    Form.VisitTimeOut = 60000;
    std::map<int, int> UnderWay; // line -> visits begun and not ended
    size_t MostUnderWay = 0;
    int Begun = 0;
    Form.OnVisitStart = [&](TForm1*, int Index) {
        ++Begun;
        EXPECT_EQ(++UnderWay[Index], 1) << Index;
        MostUnderWay = std::max(MostUnderWay, UnderWay.size());
    };
    Form.OnVisitResult = [&](TForm1*, const TVisitResult& Result) {
        Results.push_back(Result);
        EXPECT_EQ(UnderWay[Result.Index]--, 1) << Result.Index;
        if (UnderWay[Result.Index] == 0) UnderWay.erase(Result.Index);
    };
    // Stopped once silent proxies hold every worker: the rest has ended by itself.
    THookScope Hook([&] {
        if (Form.StopRequested() || UnderWay.size() < 3) return;
        for (const auto& [Index, Count] : UnderWay)
            if (Table.Kinds.at(ProxyKey(Memo1.Line(Index))) != PeerKind::Silent) return;
        Form.RequestStop();
    });
    Run("a run stopped with visits under way");

    EXPECT_EQ(size_t(Begun), Results.size());
    EXPECT_TRUE(UnderWay.empty());
    EXPECT_EQ(MostUnderWay, 3u);
    EXPECT_EQ(std::count_if(Results.begin(), Results.end(),
                            [](const TVisitResult& Result) { return Result.Mark == TProxyMark::None; }),
              3);
}

} // namespace
