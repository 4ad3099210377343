// Peers that try to break the HTTP client: the hostile proxies and origins of support/HostilePeers.h and
// connects that fail, each met by a command with a short time-out. Every case ends without a crash, a
// leak or a wait past its time-out (a guard fails it within seconds otherwise), leaves the connection
// closed, and ends as its row says.
//
// DriverTest already holds, and this file does not repeat: a refused port and an unresolvable host named
// in the URL, a silent peer, a length announced and not delivered before a close (also one beyond 32
// bits), a redirect loop, keep-alive peers that announce their length, and the events of a 401.
// ResponseReadingTest holds the chunked body that lands as received.
#include "HttpTestKit.h"
#include "framework/Exceptions.h"
#include "net/SocketErrors.h"
#include "support/HangGuard.h"
#include "support/HostilePeers.h"
#include "support/LoopbackPorts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>

namespace {

using namespace std::chrono_literals;

constexpr int32_t ShortTimeOut = 400;
// For the rows that end otherwise: the time-out bounds the whole command, and an 8 MB request with its
// answer must not meet it on a loaded machine.
constexpr int32_t LongTimeOut = 10000;
const std::string PostData(8 * 1024 * 1024, 'p'); // far more than the socket buffers hold

const char* const ReadLnTooLong = "ReadLn: line longer than 65536 bytes";
const char* const HeaderTooLong = "Response header longer than 1048576 bytes";
const char* const HeaderCut = "Connection closed before the response header ended";
const char* const Reset = "10054:Connection reset by peer";

std::string Url(uint16_t Port, const std::string& Path) {
    return "http://127.0.0.1:" + std::to_string(Port) + Path;
}

size_t Occurrences(const std::string& Text, const std::string& Part) {
    size_t Count = 0;
    for (size_t Pos = Text.find(Part); Pos != std::string::npos; Pos = Text.find(Part, Pos + Part.size()))
        ++Count;
    return Count;
}

struct HostileCase {
    HostileKind Kind;
    Command Cmd = Command::Get;
    bool BodyToFile = false;
    std::optional<std::type_index> Raises = {}; // none: the command returns
    std::string Message = {};
    bool TimesOut = false;
    int16_t ReplyCode = 0;
    std::function<void(TestHTTP&, LoopbackPeer&)> After = [](TestHTTP&, LoopbackPeer&) {};
};

std::string NameOf(const HostileCase& Case) {
    std::string Name = HostileName(Case.Kind);
    if (Case.Cmd == Command::Post) Name += "ToPost";
    if (Case.BodyToFile) Name += "ToFile";
    return Name;
}

void PrintTo(const HostileCase& Case, std::ostream* Out) {
    *Out << NameOf(Case);
}

const HostileCase HostileCases[] = {
    // The time-out limits the header as a whole: lines that each come within it do not add up to more.
    {.Kind = HostileKind::HeaderDrip,
     .Raises = ClassOf<EAbortError>(),
     .Message = "Socket readln aborted",
     .TimesOut = true,
     .ReplyCode = 200,
     .After =
         [](TestHTTP& H, LoopbackPeer&) {
             // A line takes half the time-out; ten would take five time-outs.
             EXPECT_LT(Occurrences(H.Header, "X:1\r\n"), 10u) << H.Header;
         }},
    // Lines that each fit still make a header that must end somewhere, long before memory does.
    {.Kind = HostileKind::EndlessHeader,
     .Raises = ClassOf<ERangeError>(),
     .Message = HeaderTooLong,
     .ReplyCode = 200,
     .After = [](TestHTTP& H, LoopbackPeer&) { EXPECT_LE(H.Header.size(), 1048576u); }},
    // One line of 100 MB fails at the transfer buffer's 64 KB, and the peer is cut off long before its
    // end (its script ends when its sends fail).
    {.Kind = HostileKind::HugeHeaderLine,
     .Raises = ClassOf<ERangeError>(),
     .Message = ReadLnTooLong,
     .ReplyCode = 200,
     .After =
         [](TestHTTP& H, LoopbackPeer& Peer) {
             EXPECT_EQ(H.Header, "HTTP/1.0 200 OK\r\n");
             EXPECT_TRUE(Peer.WaitScriptDone(0));
         }},
    {.Kind = HostileKind::HugeLocation,
     .Raises = ClassOf<ERangeError>(),
     .Message = ReadLnTooLong,
     .ReplyCode = 302,
     .After = [](TestHTTP& H, LoopbackPeer&) { EXPECT_EQ(H.Location, ""); }},
    {.Kind = HostileKind::HugeCookie,
     .Raises = ClassOf<ERangeError>(),
     .Message = ReadLnTooLong,
     .ReplyCode = 200,
     .After = [](TestHTTP& H, LoopbackPeer&) { EXPECT_EQ(H.ReceivedCookie, ""); }},
    {.Kind = HostileKind::EndlessBody,
     .Raises = ClassOf<EAbortError>(),
     .Message = "Socket capture aborted",
     .TimesOut = true,
     .ReplyCode = 200},
    {.Kind = HostileKind::EndlessBody,
     .BodyToFile = true,
     .Raises = ClassOf<EAbortError>(),
     .Message = "Socket send aborted",
     .TimesOut = true,
     .ReplyCode = 200},
    {.Kind = HostileKind::EndlessCountedBody,
     .Raises = ClassOf<EAbortError>(),
     .Message = "Socket capture aborted",
     .TimesOut = true,
     .ReplyCode = 200},
    {.Kind = HostileKind::EndlessCountedBody,
     .BodyToFile = true,
     .Raises = ClassOf<EAbortError>(),
     .Message = "Socket send aborted",
     .TimesOut = true,
     .ReplyCode = 200},
    // A reset is a failed transfer wherever it falls, whether the reader or the close notification
    // meets it first.
    {.Kind = HostileKind::ResetInHeader, .Raises = ClassOf<ESockError>(), .Message = Reset, .ReplyCode = 200},
    {.Kind = HostileKind::ResetInBody, .Raises = ClassOf<ESockError>(), .Message = Reset, .ReplyCode = 200},
    {.Kind = HostileKind::ResetInBody,
     .BodyToFile = true,
     .Raises = ClassOf<ESockError>(),
     .Message = Reset,
     .ReplyCode = 200},
    {.Kind = HostileKind::ResetInCountedBody,
     .Raises = ClassOf<ESockError>(),
     .Message = Reset,
     .ReplyCode = 200},
    // A response that ends before its header does is no response.
    {.Kind = HostileKind::CloseBeforeStatus,
     .Raises = ClassOf<ESockError>(),
     .Message = HeaderCut,
     .After = [](TestHTTP& H, LoopbackPeer&) { EXPECT_EQ(H.Header, ""); }},
    {.Kind = HostileKind::CloseInHeader,
     .Raises = ClassOf<ESockError>(),
     .Message = HeaderCut,
     .ReplyCode = 200,
     .After = [](TestHTTP& H, LoopbackPeer&) { EXPECT_EQ(H.Header, "HTTP/1.0 200 OK\r\n"); }},
    {.Kind = HostileKind::Garbage,
     .Raises = ClassOf<ESockError>(),
     .Message = HeaderCut,
     .After = [](TestHTTP& H, LoopbackPeer&) { EXPECT_EQ(H.Header.size(), 4096u - 254u); }},
    // Without a length the body runs until the peer closes, so a peer that never does holds the command
    // until the time-out.
    {.Kind = HostileKind::KeepAliveWithoutLength,
     .Raises = ClassOf<EAbortError>(),
     .Message = "Socket capture aborted",
     .TimesOut = true,
     .ReplyCode = 200,
     .After = [](TestHTTP& H, LoopbackPeer&) { EXPECT_EQ(H.Body, "hello"); }},
    {.Kind = HostileKind::ChunkedKeptAlive,
     .Raises = ClassOf<EAbortError>(),
     .Message = "Socket capture aborted",
     .TimesOut = true,
     .ReplyCode = 200},
    {.Kind = HostileKind::LengthBeyondBody,
     .Raises = ClassOf<EAbortError>(),
     .Message = "Socket capture aborted",
     .TimesOut = true,
     .ReplyCode = 200,
     .After = [](TestHTTP& H, LoopbackPeer&) { EXPECT_EQ(H.Body, "short"); }},
    // A negative length is no length: the body runs to the close. The total takes the digits alone.
    {.Kind = HostileKind::NegativeLength,
     .ReplyCode = 200,
     .After =
         [](TestHTTP& H, LoopbackPeer&) {
             EXPECT_EQ(H.Body, "whole body");
             EXPECT_EQ(H.ContentLength, -1);
             EXPECT_EQ(H.TransferTotal, 5);
         }},
    {.Kind = HostileKind::RedirectToHttps,
     .Raises = ClassOf<Exception>(),
     .Message = "HTTP Secure Socket is not supported",
     .ReplyCode = 302,
     .After =
         [](TestHTTP& H, LoopbackPeer& Peer) {
             EXPECT_EQ(H.URL, "https://127.0.0.1/secure");
             EXPECT_EQ(Peer.Accepted(), 1u);
         }},
    {.Kind = HostileKind::NeverReads,
     .Cmd = Command::Post,
     .Raises = ClassOf<EAbortError>(),
     .Message = "Socket send aborted",
     .TimesOut = true},
    // An early answer from a peer that still takes what comes is read once the request is out (what the
    // peer has not read by the close is dropped with the connection).
    {.Kind = HostileKind::AnswersEarly,
     .Cmd = Command::Post,
     .ReplyCode = 413,
     .After = [](TestHTTP& H, LoopbackPeer&) { EXPECT_EQ(H.Body, "early"); }},
    {.Kind = HostileKind::AnswersEarlyThenResets,
     .Cmd = Command::Post,
     .Raises = ClassOf<ESockError>(),
     .Message = Reset},
};

class HostilePeer : public testing::TestWithParam<HostileCase> {};

TEST_P(HostilePeer, EndsAsStatedWithTheConnectionClosed) {
    const HostileCase& Case = GetParam();
    InTempFolder Work;
    HostileScene Scene = HostileScripts(Case.Kind);
    LoopbackPeer Peer(Scene.Scripts, Scene.Options);
    TestHTTP H(nullptr);
    H.TimeOut = Case.TimesOut ? ShortTimeOut : LongTimeOut;
    H.EncodePostData = false;
    H.InputFileMode = Case.BodyToFile;
    H.Body = Case.BodyToFile ? "body.bin" : "";

    std::optional<std::type_index> Raised;
    std::string Message;
    try {
        HangGuard Guard(NameOf(Case), HangBound(H.TimeOut));
        RunCommand(H, Case.Cmd, Url(Peer.Port(), "/page"), PostData);
    } catch (const std::exception& E) {
        Raised = ClassOf(E);
        Message = E.what();
    }

    EXPECT_EQ(Raised.has_value(), Case.Raises.has_value()) << Message;
    if (Raised && Case.Raises) {
        EXPECT_EQ(*Raised, *Case.Raises) << Raised->name() << ": " << Message;
        EXPECT_EQ(Message, Case.Message);
    }
    EXPECT_EQ(H.TimedOut, Case.TimesOut);
    EXPECT_EQ(H.ReplyCode, Case.ReplyCode);
    EXPECT_FALSE(H.IsConnected);
    // Every connection is over: closed by the client, or reset by the peer itself.
    ASSERT_GE(Peer.Accepted(), 1u);
    const bool PeerResets =
        Case.Kind == HostileKind::ResetInHeader || Case.Kind == HostileKind::ResetInBody ||
        Case.Kind == HostileKind::ResetInCountedBody || Case.Kind == HostileKind::AnswersEarlyThenResets;
    for (size_t I = 0; I < Peer.Accepted(); ++I)
        EXPECT_TRUE(PeerResets ? Peer.WaitScriptDone(I) : Peer.WaitClientClosed(I)) << "connection " << I;
    Case.After(H, Peer);
}

INSTANTIATE_TEST_SUITE_P(Peers, HostilePeer, testing::ValuesIn(HostileCases),
                         [](const testing::TestParamInfo<HostileCase>& Info) { return NameOf(Info.param); });

// ---- Connects that fail ---------------------------------------------------------------------------

struct ConnectCase {
    const char* Name;
    std::string Proxy; // the proxy's host; its port is a loopback port that refuses or never answers
    bool Answers;      // false: the connect never completes
    std::string Message;
    bool TimesOut;
};

void PrintTo(const ConnectCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

// A proxy named by a host name fails like one named by its address: the name look-up that comes first
// must not pass for a connection.
const ConnectCase ConnectCases[] = {
    {"RefusedByNamedProxy", "localhost", true, "Connection Failed", false},
    {"NeverCompletes", "127.0.0.1", false, "Connection Timed out", true},
    {"NeverCompletesToNamedProxy", "localhost", false, "Connection Timed out", true},
};

class FailingConnect : public testing::TestWithParam<ConnectCase> {};

TEST_P(FailingConnect, RaisesAfterOnConnectionFailedWithoutSending) {
    const ConnectCase& Case = GetParam();
    ClosedPort Refusing;
    UnansweredPort Silent;
    TestHTTP H(nullptr);
    H.TimeOut = ShortTimeOut;
    H.Proxy = Case.Proxy;
    H.ProxyPort = Case.Answers ? Refusing.Port() : Silent.Port();
    std::vector<std::string> Events;
    H.OnConnectionFailed = [&](TComponent*) { Events.push_back("ConnectionFailed"); };
    H.OnDisconnect = [&](TComponent*) { Events.push_back("Disconnect"); };
    H.OnConnect = [&](TComponent*) { Events.push_back("Connect"); };

    try {
        HangGuard Guard(Case.Name, HangBound(ShortTimeOut));
        H.Get("http://origin.invalid/page");
        FAIL() << "no exception";
    } catch (const std::exception& E) {
        EXPECT_EQ(ClassOf(E), ClassOf<ESockError>()) << typeid(E).name() << ": " << E.what();
        EXPECT_EQ(std::string(E.what()), Case.Message);
    }
    // The failure is told once, then the driver's own close; nothing claimed a connection.
    EXPECT_EQ(Events, (std::vector<std::string>{"ConnectionFailed", "Disconnect"}));
    EXPECT_EQ(H.TimedOut, Case.TimesOut);
    EXPECT_FALSE(H.IsConnected);
}

INSTANTIATE_TEST_SUITE_P(Proxies, FailingConnect, testing::ValuesIn(ConnectCases),
                         [](const testing::TestParamInfo<ConnectCase>& Info) {
                             return std::string(Info.param.Name);
                         });

} // namespace
