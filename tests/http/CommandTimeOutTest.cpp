// How a command ends in time: TimeOut bounds the whole command, redirects included, and a time-out or a
// stop ends the waits for a response header and for an announced body. Every command here runs under a
// guard, so a wait that does not end fails its test within seconds instead of hanging the run.
#include "HttpTestKit.h"
#include "net/SocketErrors.h"
#include "support/HangGuard.h"
#include "support/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <tuple>

namespace {

using namespace std::chrono_literals;

constexpr int32_t TimeOut = 400;

std::string Url(uint16_t Port, const std::string& Path = "/a") {
    return "http://127.0.0.1:" + std::to_string(Port) + Path;
}

struct Outcome {
    std::optional<std::type_index> Raised;
    std::string Message;
};

Outcome RunGuarded(TestHTTP& H, const std::string& Name, const std::string& URL) {
    HangGuard Guard(Name, HangBound(TimeOut));
    Outcome Result;
    try {
        H.Get(URL);
    } catch (const std::exception& E) {
        Result.Raised = ClassOf(E);
        Result.Message = E.what();
    }
    return Result;
}

// ---- One deadline for the whole command -----------------------------------------------------------

// Each step answers well within the time-out; together they take longer than it.
constexpr auto Step = 250ms;

PeerScript RedirectAfterAStep() {
    return PeerScript()
        .ReceiveUntil("\r\n\r\n")
        .Stall(Step)
        .Send("HTTP/1.0 302 Found\r\nLocation: /next\r\nContent-Length: 0\r\n\r\n")
        .Close();
}

TEST(CommandDeadline, CoversEveryRedirect) {
    LoopbackPeer Peer({RedirectAfterAStep(), RedirectAfterAStep(),
                       PeerScript().ReceiveUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\nlate").Close()});
    TestHTTP H(nullptr);
    H.TimeOut = TimeOut;

    const Outcome Result = RunGuarded(H, "three redirects", Url(Peer.Port()));

    ASSERT_TRUE(Result.Raised) << "the command took " << 2 * Step.count() << " ms and more";
    EXPECT_EQ(*Result.Raised, ClassOf<EAbortError>()) << Result.Message;
    EXPECT_EQ(Result.Message, "Socket readln aborted");
    EXPECT_TRUE(H.TimedOut);
    EXPECT_EQ(Peer.Accepted(), 2u);
    EXPECT_FALSE(H.IsConnected);

    // The next command has a deadline of its own.
    LoopbackPeer Quick(PeerScript().ReceiveUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\nquick").Close());
    EXPECT_FALSE(RunGuarded(H, "the next command", Url(Quick.Port())).Raised);
    EXPECT_EQ(H.Body, "quick");
}

TEST(CommandDeadline, CoversHeaderAndBodyTogether) {
    for (const bool ToFile : {false, true}) {
        SCOPED_TRACE(ToFile ? "file" : "text");
        InTempFolder Work;
        LoopbackPeer Peer(PeerScript()
                              .ReceiveUntil("\r\n\r\n")
                              .Stall(Step)
                              .Send("HTTP/1.0 200 OK\r\n\r\nfirst part, ")
                              .Stall(Step)
                              .Send("second part")
                              .Close());
        TestHTTP H(nullptr);
        H.TimeOut = TimeOut;
        H.InputFileMode = ToFile;
        H.Body = ToFile ? "body.bin" : "";

        const Outcome Result = RunGuarded(H, "header and body", Url(Peer.Port()));

        ASSERT_TRUE(Result.Raised) << "the command took " << 2 * Step.count() << " ms and more";
        EXPECT_EQ(*Result.Raised, ClassOf<EAbortError>()) << Result.Message;
        EXPECT_EQ(Result.Message, ToFile ? "Socket send aborted" : "Socket capture aborted");
        EXPECT_TRUE(H.TimedOut);
        EXPECT_TRUE(Peer.WaitClientClosed());
    }
}

// ---- Waits that a time-out or a stop must end -----------------------------------------------------

enum class Ender { TimeOut, Stop };

struct WaitCase {
    const char* Name;
    std::string Reply; // sent after the request; then the peer keeps the connection open and silent
    bool ToFile = false;
    std::string Message;
};

void PrintTo(const WaitCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

const WaitCase WaitCases[] = {
    {"HeaderAwaited", "", false, "Socket readln aborted"},
    {"HeaderAwaitedAfterStatusLine", "HTTP/1.0 200 OK\r\n", false, "Socket readln aborted"},
    {"AnnouncedBodyAwaited", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n", false,
     "Socket capture aborted"},
    {"AnnouncedBodyAwaitedToFile", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n", true,
     "Socket send aborted"},
};

class AwaitedResponse : public testing::TestWithParam<std::tuple<WaitCase, Ender>> {};

TEST_P(AwaitedResponse, EndsWithTheTimeOutOrTheStop) {
    const auto& [Case, End] = GetParam();
    InTempFolder Work;
    LoopbackPeer Peer(PeerScript().ReceiveUntil("\r\n\r\n").Send(Case.Reply).Hold());
    TestHTTP H(nullptr);
    H.InputFileMode = Case.ToFile;
    H.Body = Case.ToFile ? "body.bin" : "";
    // A stop alone ends the wait: no time-out is set.
    H.TimeOut = End == Ender::TimeOut ? TimeOut : 0;
    std::optional<AbortLater> Stop;
    if (End == Ender::Stop) Stop.emplace(H, TimeOut);

    const Outcome Result = RunGuarded(H, Case.Name, Url(Peer.Port()));

    ASSERT_TRUE(Result.Raised);
    EXPECT_EQ(*Result.Raised, ClassOf<EAbortError>()) << Result.Message;
    EXPECT_EQ(Result.Message, Case.Message);
    EXPECT_EQ(H.TimedOut, End == Ender::TimeOut);
    EXPECT_FALSE(H.IsConnected);
    EXPECT_TRUE(Peer.WaitClientClosed());
}

INSTANTIATE_TEST_SUITE_P(Waits, AwaitedResponse,
                         testing::Combine(testing::ValuesIn(WaitCases),
                                          testing::Values(Ender::TimeOut, Ender::Stop)),
                         [](const testing::TestParamInfo<std::tuple<WaitCase, Ender>>& Info) {
                             return std::string(std::get<0>(Info.param).Name) +
                                    (std::get<1>(Info.param) == Ender::TimeOut ? "_TimeOut" : "_Stop");
                         });

} // namespace
