// A run whose visit waits on a proxy that stops talking: while the response header is awaited, and
// while a body whose length was announced is awaited. A stop ends the run at once and leaves the line;
// the time-out ends the visit as a failure. Each run has its own bound, a few times its time-out (or, for
// a stop, far below it), so a time-out that is not armed or a stop that is not heard fails here by name
// instead of holding the suite.
#include "app/ProxyList.h"
#include "platform/Windows.h"

#include "AppFixtures.h"
#include "HangGuard.h"
#include "support/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

enum class Awaited { Header, CountedBody };
enum class Ending { Stop, TimeOut };

struct BoundCase {
    const char* Name;
    Awaited What;
    Ending How;
    int Jobs;
};

void PrintTo(const BoundCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

// The time-out of the runs that end by it, and the bound of every run.
constexpr int32_t ShortTimeOut = 1000;
constexpr auto Bound = 5000ms;

PeerScript ScriptFor(Awaited What) {
    PeerScript Script;
    Script.ReceiveUntil("\r\n\r\n");
    if (What == Awaited::CountedBody) Script.Send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n");
    return Script.Hold();
}

// Installs the socket layer's event hook for the length of a scope.
class THookScope {
public:
    explicit THookScope(std::function<void()> Hook) { platform::SetEventHook(std::move(Hook)); }
    ~THookScope() { platform::SetEventHook(nullptr); }
};

class RunWaitBounds : public FormFixture, public ::testing::WithParamInterface<BoundCase> {};

TEST_P(RunWaitBounds, EndWithinTheirBound) {
    const BoundCase& Case = GetParam();
    LoopbackPeer Peer(ScriptFor(Case.What));
    const std::string Line = "127.0.0.1:" + std::to_string(Peer.Port());
    Memo1.SetLines({Line});
    Memo2.SetLines({"http://127.0.0.1:1/page.html"});
    Form.Jobs = Case.Jobs;
    // A stop must not wait for the time-out: that one is far away.
    Form.VisitTimeOut = Case.How == Ending::Stop ? 60000 : ShortTimeOut;
    std::vector<TVisitResult> Results;
    Form.OnVisitResult = [&](TForm1*, const TVisitResult& Result) { Results.push_back(Result); };

    // The stop comes from inside the pump of the form's thread, as a close or a signal does, once the
    // peer has the request and a few more turns of the pump have let the answer's header in.
    int TurnsSinceRequest = 0;
    THookScope Hook([&] {
        if (Case.How != Ending::Stop || Form.StopRequested()) return;
        if (Peer.Received().find("\r\n\r\n") == std::string::npos) return;
        if (++TurnsSinceRequest >= 20) Form.RequestStop();
    });

    const auto Start = std::chrono::steady_clock::now();
    {
        THangGuard Guard(Bound * 4, std::string("the run of ") + Case.Name);
        Form.Button1Click(&Form);
    }
    const auto Took = std::chrono::steady_clock::now() - Start;
    EXPECT_LT(Took, Bound);

    ASSERT_EQ(Results.size(), 1u);
    if (Case.How == Ending::Stop) {
        EXPECT_EQ(Results[0].Mark, TProxyMark::None);
        EXPECT_EQ(Memo1.Lines(), Lines{Line});
    } else {
        EXPECT_EQ(Results[0].Mark, TProxyMark::Failure);
        EXPECT_NE(Results[0].Failure, "");
        EXPECT_EQ(Memo1.Lines(), Lines{Line + FailureMark});
        EXPECT_GE(Took, std::chrono::milliseconds(ShortTimeOut));
    }
    // Saved either way, and the connection is closed.
    EXPECT_NE(ReadFileBytes(SettingsPath()).find(Memo1.Line(0) + "\r\n"), std::string::npos);
    EXPECT_TRUE(Peer.WaitClientClosed(0));
}

INSTANTIATE_TEST_SUITE_P(
    Waits, RunWaitBounds,
    ::testing::Values(
        BoundCase{"StopWhileTheHeaderIsAwaited", Awaited::Header, Ending::Stop, 1},
        BoundCase{"TimeOutWhileTheHeaderIsAwaited", Awaited::Header, Ending::TimeOut, 1},
        BoundCase{"StopWhileACountedBodyIsAwaited", Awaited::CountedBody, Ending::Stop, 1},
        BoundCase{"TimeOutWhileACountedBodyIsAwaited", Awaited::CountedBody, Ending::TimeOut, 1},
        BoundCase{"ManyAtOnceStopWhileTheHeaderIsAwaited", Awaited::Header, Ending::Stop, 4},
        BoundCase{"ManyAtOnceTimeOutWhileTheHeaderIsAwaited", Awaited::Header, Ending::TimeOut, 4},
        BoundCase{"ManyAtOnceStopWhileACountedBodyIsAwaited", Awaited::CountedBody, Ending::Stop, 4},
        BoundCase{"ManyAtOnceTimeOutWhileACountedBodyIsAwaited", Awaited::CountedBody, Ending::TimeOut, 4}),
    [](const ::testing::TestParamInfo<BoundCase>& Info) { return std::string(Info.param.Name); });

} // namespace
