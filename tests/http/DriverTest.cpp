// The connection driver: the order of its steps and events, redirects, and how failures end a command.
#include "HttpTestKit.h"
#include "framework/TextHelpers.h"
#include "net/SocketErrors.h"
#include "support/HangGuard.h"
#include "support/HttpPeer.h"
#include "support/LoopbackPorts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

namespace {

using Events = std::vector<std::string>;

std::string Url(uint16_t Port, const std::string& Path) {
    return "http://127.0.0.1:" + std::to_string(Port) + Path;
}

// ---- Event order ----------------------------------------------------------------------------------

struct OrderCase {
    const char* Name;
    std::string Path = {};                   // requested at the peer
    std::vector<std::string> Responses = {}; // one per connection, "{port}" standing for the peer's port
    Events Expected = {};                    // "{port}" likewise
    size_t Connections = {};
    std::vector<std::string> RequestLines = {}; // first line of each request, in order
    bool HandleRedirects = false;
    std::string CookieAfter = {};
    std::string BodyAfter = {};
};

void PrintTo(const OrderCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

const OrderCase OrderCases[] = {
    {.Name = "Ok200",
     .Path = "/a",
     .Responses = {"HTTP/1.0 200 OK\r\nSet-Cookie: kept=no\r\nContent-Length: 2\r\n\r\nok"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Success 0",
                  "Status Transaction Completed", "Disconnect"},
     .Connections = 1,
     .BodyAfter = "ok"},
    {.Name = "NotFound404",
     .Path = "/a",
     .Responses = {"HTTP/1.0 404 Not Found\r\n\r\nmissing"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Failure 0", "Disconnect"},
     .Connections = 1,
     .BodyAfter = "missing"},
    // Each threshold of the status table with the status on either side of it.
    {.Name = "Status298Succeeds",
     .Path = "/a",
     .Responses = {"HTTP/1.0 298 Odd\r\nLocation: /b\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Success 0",
                  "Status Transaction Completed", "Disconnect"},
     .Connections = 1},
    {.Name = "StatusWithoutNumberSucceeds",
     .Path = "/a",
     .Responses = {"HTTP/1.0 OK\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Success 0",
                  "Status Transaction Completed", "Disconnect"},
     .Connections = 1},
    {.Name = "BadRequest400Fails",
     .Path = "/a",
     .Responses = {"HTTP/1.0 400 Bad Request\r\nLocation: /b\r\n\r\nbad"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Failure 0", "Disconnect"},
     .Connections = 1,
     .BodyAfter = "bad"},
    {.Name = "PaymentRequired402FailsWithoutAuthentication",
     .Path = "/a",
     .Responses = {"HTTP/1.0 402 Payment Required\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Failure 0", "Disconnect"},
     .Connections = 1},
    {.Name = "Unauthorized401",
     .Path = "/a",
     .Responses = {"HTTP/1.0 401 Unauthorized\r\nContent-Length: 0\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Failure 0", "Disconnect",
                  "AuthenticationNeeded"},
     .Connections = 1},
    {.Name = "Found302WithCookie",
     .Path = "/a",
     .Responses =
         {"HTTP/1.0 302 Found\r\nSet-Cookie: s=1; path=/\r\nLocation: http://127.0.0.1:{port}/next\r\n\r\n",
          "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\ndone"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Disconnect", "Redirect s=1; path=/",
                  "AboutToSend http://127.0.0.1:{port}/next", "Connect", "Success 0",
                  "Status Transaction Completed", "Disconnect"},
     .Connections = 2,
     .RequestLines = {"GET /a HTTP/1.0", "GET /next HTTP/1.0"},
     .BodyAfter = "done"},
    {.Name = "MultipleChoices300Follows",
     .Path = "/a",
     .Responses = {"HTTP/1.0 300 Multiple Choices\r\nLocation: /b\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Disconnect", "Redirect ",
                  "AboutToSend http://127.0.0.1:{port}/b", "Connect", "Success 0",
                  "Status Transaction Completed", "Disconnect"},
     .Connections = 2,
     .RequestLines = {"GET /a HTTP/1.0", "GET /b HTTP/1.0"}},
    {.Name = "MovedToBareName",
     .Path = "/a/b",
     .Responses = {"HTTP/1.0 301 Moved\r\nLocation: next.html\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a/b", "Connect", "Disconnect", "Redirect ",
                  "AboutToSend http://127.0.0.1:{port}/next.html", "Connect", "Success 0",
                  "Status Transaction Completed", "Disconnect"},
     .Connections = 2,
     .RequestLines = {"GET /a/b HTTP/1.0", "GET /next.html HTTP/1.0"}},
    {.Name = "FoundAtRootRelativePath",
     .Path = "/a/b",
     .Responses = {"HTTP/1.0 302 Found\r\nLocation: /root/x\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a/b", "Connect", "Disconnect", "Redirect ",
                  "AboutToSend http://127.0.0.1:{port}/root/x", "Connect", "Success 0",
                  "Status Transaction Completed", "Disconnect"},
     .Connections = 2,
     .RequestLines = {"GET /a/b HTTP/1.0", "GET /root/x HTTP/1.0"}},
    // A redirect without a target ends the command; the target of an earlier response is not taken.
    {.Name = "FoundWithoutLocationEnds",
     .Path = "/a/b",
     .Responses = {"HTTP/1.0 302 Found\r\n\r\nno target", "HTTP/1.0 200 OK\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a/b", "Connect", "Disconnect", "Redirect "},
     .Connections = 1,
     .BodyAfter = "no target"},
    {.Name = "FoundWithoutLocationAfterOneWithEnds",
     .Path = "/a",
     .Responses = {"HTTP/1.0 301 Moved\r\nLocation: /b\r\n\r\n", "HTTP/1.0 302 Found\r\n\r\n",
                   "HTTP/1.0 200 OK\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Disconnect", "Redirect ",
                  "AboutToSend http://127.0.0.1:{port}/b", "Connect", "Disconnect", "Redirect "},
     .Connections = 2,
     .RequestLines = {"GET /a HTTP/1.0", "GET /b HTTP/1.0"}},
    {.Name = "HandledRedirectEndsWithItsBody",
     .Path = "/a",
     .Responses = {"HTTP/1.0 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 5\r\n\r\nmoved"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Disconnect", "Redirect "},
     .Connections = 1,
     .HandleRedirects = true,
     .BodyAfter = "moved"},
    {.Name = "SeeOther303Follows",
     .Path = "/a",
     .Responses = {"HTTP/1.0 303 See Other\r\nLocation: /b\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Disconnect", "Redirect ",
                  "AboutToSend http://127.0.0.1:{port}/b", "Connect", "Success 0",
                  "Status Transaction Completed", "Disconnect"},
     .Connections = 2},
    {.Name = "Temporary307Follows",
     .Path = "/a",
     .Responses = {"HTTP/1.0 307 Temporary Redirect\r\nLocation: /b\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Disconnect", "Redirect ",
                  "AboutToSend http://127.0.0.1:{port}/b", "Connect", "Success 0",
                  "Status Transaction Completed", "Disconnect"},
     .Connections = 2},
    {.Name = "Permanent308Follows",
     .Path = "/a",
     .Responses = {"HTTP/1.0 308 Permanent Redirect\r\nLocation: /b\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Disconnect", "Redirect ",
                  "AboutToSend http://127.0.0.1:{port}/b", "Connect", "Success 0",
                  "Status Transaction Completed", "Disconnect"},
     .Connections = 2},
    {.Name = "NotModified304EndsAfterRedirectEvent",
     .Path = "/a",
     .Responses = {"HTTP/1.0 304 Not Modified\r\nLocation: /b\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Disconnect", "Redirect "},
     .Connections = 1},
    {.Name = "UseProxy305EndsAfterRedirectEvent",
     .Path = "/a",
     .Responses = {"HTTP/1.0 305 Use Proxy\r\nLocation: /b\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Disconnect", "Redirect "},
     .Connections = 1},
    {.Name = "Status306EndsAfterRedirectEvent",
     .Path = "/a",
     .Responses = {"HTTP/1.0 306 Unused\r\nLocation: /b\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Disconnect", "Redirect "},
     .Connections = 1},
    {.Name = "Status309EndsAfterRedirectEvent",
     .Path = "/a",
     .Responses = {"HTTP/1.0 309 Odd\r\nLocation: /b\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Disconnect", "Redirect "},
     .Connections = 1},
    {.Name = "Status398EndsAfterRedirectEvent",
     .Path = "/a",
     .Responses = {"HTTP/1.0 398 Odd\r\nLocation: /b\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Disconnect", "Redirect "},
     .Connections = 1},
    {.Name = "Status299EndsWithoutEvents",
     .Path = "/a",
     .Responses = {"HTTP/1.0 299 Odd\r\nLocation: /b\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Disconnect"},
     .Connections = 1},
    {.Name = "Status399EndsWithoutEvents",
     .Path = "/a",
     .Responses = {"HTTP/1.0 399 Odd\r\nLocation: /b\r\n\r\n"},
     .Expected = {"AboutToSend http://127.0.0.1:{port}/a", "Connect", "Disconnect"},
     .Connections = 1},
};

class EventOrder : public testing::TestWithParam<OrderCase> {};

TEST_P(EventOrder, FollowsTheStatus) {
    const OrderCase& Case = GetParam();
    HttpPeer Peer;
    std::vector<HttpPeerReply> Replies;
    for (const std::string& R : Case.Responses) Replies.push_back(OnePacket(WithPort(R, Peer.Port())));
    Peer.SetReplies(Replies);

    TestHTTP H(nullptr);
    H.TimeOut = 10000;
    H.RecordEvents(Case.HandleRedirects);
    H.Get(Url(Peer.Port(), Case.Path));

    Events Expected;
    for (const std::string& E : Case.Expected) Expected.push_back(WithPort(E, Peer.Port()));
    EXPECT_EQ(H.Log, Expected);
    const std::vector<std::string> Requests = Peer.Requests(Case.Connections);
    EXPECT_EQ(Requests.size(), Case.Connections);
    for (size_t I = 0; I < Case.RequestLines.size() && I < Requests.size(); ++I)
        EXPECT_EQ(Requests[I].substr(0, Requests[I].find("\r\n")), Case.RequestLines[I]) << "request " << I;
    EXPECT_EQ(H.HeaderInfo->Cookie, Case.CookieAfter);
    EXPECT_EQ(H.Body, Case.BodyAfter);
    EXPECT_FALSE(H.IsConnected);
}

INSTANTIATE_TEST_SUITE_P(Statuses, EventOrder, testing::ValuesIn(OrderCases),
                         [](const testing::TestParamInfo<OrderCase>& Info) {
                             return std::string(Info.param.Name);
                         });

// A redirect to another host: the next pass looks the new name up, names it in the Host line and sends
// the cookie that the redirect set in place of the caller's. The cookie lasts for that command only.
TEST(Redirect, ToAnotherHostCarriesTheCookieForTheCommand) {
    HttpPeer Second({OnePacket("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nhi")});
    HttpPeer First({OnePacket("HTTP/1.0 302 Found\r\nSet-Cookie: sid=7\r\nLocation: http://localhost:" +
                              std::to_string(Second.Port()) + "/new\r\n\r\n")});
    TestHTTP H(nullptr);
    H.TimeOut = 10000;
    H.RecordEvents();
    H.HeaderInfo->Cookie = "own=1";

    H.Get(Url(First.Port(), "/old"));

    EXPECT_EQ(H.HeaderInfo->Cookie, "own=1");
    EXPECT_EQ(H.Host, "localhost");
    EXPECT_EQ(H.Body, "hi");
    const std::vector<std::string> Requests = Second.Requests(1);
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0], "GET /new HTTP/1.0\r\n"
                           "Host: localhost\r\n"
                           "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                           "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                           "Cookie: sid=7\r\n"
                           "Content-type: application/x-www-form-urlencoded\r\n"
                           "\r\n");

    H.Get("http://localhost:" + std::to_string(Second.Port()) + "/later");
    const std::vector<std::string> Later = Second.Requests(2);
    ASSERT_EQ(Later.size(), 2u);
    EXPECT_NE(Later[1].find("\r\nCookie: own=1\r\n"), std::string::npos) << Later[1];
}

// However a command that took a cookie over ends, the caller's cookie is back afterwards.
TEST(Redirect, CookieTakenOverIsGoneAfterEveryEnding) {
    enum class Ending { Followed, Handled, NextHopRefused, TooManyRedirects };
    for (const Ending End :
         {Ending::Followed, Ending::Handled, Ending::NextHopRefused, Ending::TooManyRedirects}) {
        SCOPED_TRACE(static_cast<int>(End));
        ClosedPort Refusing;
        HttpPeer Peer;
        const std::string Target = End == Ending::NextHopRefused ? Url(Refusing.Port(), "/b") : "/b";
        std::vector<HttpPeerReply> Replies = {
            OnePacket("HTTP/1.0 302 Found\r\nSet-Cookie: taken=1\r\nLocation: " + Target + "\r\n\r\n")};
        if (End != Ending::TooManyRedirects) Replies.push_back(OnePacket("HTTP/1.0 200 OK\r\n\r\n"));
        Peer.SetReplies(Replies);
        TestHTTP H(nullptr);
        H.TimeOut = 10000;
        H.HeaderInfo->Cookie = End == Ending::Handled ? "" : "own=1";
        std::string SeenByRedirect;
        H.OnRedirect = [&](bool& Handled) {
            SeenByRedirect = H.HeaderInfo->Cookie;
            Handled = End == Ending::Handled;
        };

        const bool Fails = End == Ending::NextHopRefused || End == Ending::TooManyRedirects;
        if (Fails)
            EXPECT_ANY_THROW(H.Get(Url(Peer.Port(), "/a")));
        else
            H.Get(Url(Peer.Port(), "/a"));

        EXPECT_EQ(SeenByRedirect, "taken=1");
        EXPECT_EQ(H.HeaderInfo->Cookie, End == Ending::Handled ? "" : "own=1");
    }
}

// What a redirect does to the command: 303 turns it into a GET without body (a HEAD stays a HEAD); the
// other followed statuses send the same command and body to the new target.
struct RepeatCase {
    const char* Name;
    Command Cmd;
    int Status;
    CmdType Next; // the command of the request that follows the redirect
    bool NextHasBody;
};

void PrintTo(const RepeatCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

const RepeatCase RepeatCases[] = {
    {"PostSeeOtherBecomesGet", Command::Post, 303, CmdType::CmdGET, false},
    {"PutSeeOtherBecomesGet", Command::Put, 303, CmdType::CmdGET, false},
    {"PatchSeeOtherBecomesGet", Command::Patch, 303, CmdType::CmdGET, false},
    {"DeleteSeeOtherBecomesGet", Command::Delete, 303, CmdType::CmdGET, false},
    {"HeadSeeOtherStaysHead", Command::Head, 303, CmdType::CmdHEAD, false},
    {"PostTemporaryKeepsBody", Command::Post, 307, CmdType::CmdPOST, true},
    {"PutPermanentKeepsBody", Command::Put, 308, CmdType::CmdPUT, true},
    {"PostFoundKeepsBody", Command::Post, 302, CmdType::CmdPOST, true},
};

class RedirectedCommand : public testing::TestWithParam<RepeatCase> {};

TEST_P(RedirectedCommand, IsSentAgainAsTheStatusSays) {
    const RepeatCase& Case = GetParam();
    HttpPeer Peer({OnePacket("HTTP/1.0 " + std::to_string(Case.Status) + " Moved\r\nLocation: /b\r\n\r\n"),
                   OnePacket("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n")});
    TestHTTP H(nullptr);
    H.TimeOut = 10000;
    H.EncodePostData = false;
    std::vector<CmdType> Succeeded;
    H.OnSuccess = [&](CmdType Cmd) { Succeeded.push_back(Cmd); };

    RunCommand(H, Case.Cmd, Url(Peer.Port(), "/a"), "k=v");

    const std::vector<std::string> Requests = Peer.Requests(2);
    ASSERT_EQ(Requests.size(), 2u);
    const std::string Head = "Host: 127.0.0.1\r\n"
                             "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                             "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                             "Content-type: application/x-www-form-urlencoded\r\n";
    const std::map<CmdType, std::string> Methods = {{CmdType::CmdGET, "GET"},
                                                    {CmdType::CmdHEAD, "HEAD"},
                                                    {CmdType::CmdPOST, "POST"},
                                                    {CmdType::CmdPUT, "PUT"}};
    EXPECT_EQ(Requests[1], Methods.at(Case.Next) + " /b HTTP/1.0\r\n" + Head +
                               (Case.NextHasBody ? "Content-Length: 3\r\n\r\nk=v" : "\r\n"));
    // The outcome names the command that produced it.
    EXPECT_EQ(Succeeded, std::vector<CmdType>{Case.Next});
}

INSTANTIATE_TEST_SUITE_P(Statuses, RedirectedCommand, testing::ValuesIn(RepeatCases),
                         [](const testing::TestParamInfo<RepeatCase>& Info) {
                             return std::string(Info.param.Name);
                         });

// Through a proxy a relative Location still becomes a request the proxy can route: the whole URL with
// the host and port of the response that named it.
TEST(Redirect, RelativeLocationThroughAProxyIsSentAbsolute) {
    HttpPeer Proxy(
        {OnePacket("HTTP/1.0 302 Found\r\nLocation: /b\r\n\r\n"), OnePacket("HTTP/1.0 200 OK\r\n\r\n")});
    TestHTTP H(nullptr);
    H.TimeOut = 10000;
    H.Proxy = "127.0.0.1";
    H.ProxyPort = Proxy.Port();

    H.Get("http://origin:8080/a");

    const std::vector<std::string> Requests = Proxy.Requests(2);
    ASSERT_EQ(Requests.size(), 2u);
    EXPECT_EQ(Requests[1].substr(0, Requests[1].find("\r\n")), "GET http://origin:8080/b HTTP/1.0");
    EXPECT_EQ(H.URL, "http://origin:8080/b");
}

TEST(Redirect, LoopEndsWithTooManyRedirects) {
    HttpPeer Peer({OnePacket("HTTP/1.0 302 Found\r\nLocation: /again\r\n\r\n")});
    TestHTTP H(nullptr);
    H.TimeOut = 10000;
    H.RecordEvents();

    try {
        H.Get(Url(Peer.Port(), "/again"));
        FAIL() << "no exception";
    } catch (const std::exception& E) {
        EXPECT_EQ(ClassOf(E), ClassOf<Exception>());
        EXPECT_EQ(std::string(E.what()), "Too many redirects");
    }
    // The first response and the redirects followed: one connection each, each closed.
    const size_t Passes = TVexHTTP::MaxRedirects + 1;
    EXPECT_EQ(Peer.Requests(Passes).size(), Passes);
    EXPECT_EQ(std::count(H.Log.begin(), H.Log.end(), "Redirect "), static_cast<long>(Passes));
    EXPECT_EQ(std::count(H.Log.begin(), H.Log.end(), "Connect"), static_cast<long>(Passes));
    EXPECT_EQ(std::count(H.Log.begin(), H.Log.end(), "Disconnect"), static_cast<long>(Passes));
    EXPECT_FALSE(H.IsConnected);
}

// ---- Failures -------------------------------------------------------------------------------------

// What a failing command meets: a scripted peer, and a port that refuses connections.
struct FailureScene {
    HttpPeer Peer;
    ClosedPort Refusing;
};

struct FailureCase {
    const char* Name;
    Command Cmd = Command::Get;
    std::function<void(TestHTTP&, FailureScene&)> Arrange = {}; // sets the component and the peers up
    std::function<std::string(FailureScene&)> URL = {};
    std::type_index Raises = ClassOf<Exception>();
    std::string Message = {}; // empty: any text
    Events Expected = {};     // the recorded events and calls, "{port}" for the peer's
    bool PeerSeesClose = true;
    std::function<void(const TestHTTP&)> After = [](const TestHTTP&) {}; // further checks
};

void PrintTo(const FailureCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

auto PeerUrl(const std::string& Path) {
    return [Path](FailureScene& Scene) { return Url(Scene.Peer.Port(), Path); };
}

// Aborts the command as soon as the first bytes of the body have arrived.
void AbortOnFirstPacket(TestHTTP& H) {
    H.OnPacketRecvd = [&H](TComponent*) { H.Abort(); };
}

const std::string UnresolvableName = std::string(70, 'n'); // longer than a DNS label: fails without a query

const FailureCase FailureCases[] = {
    {.Name = "ConnectionRefused",
     .Arrange = [](TestHTTP&, FailureScene&) {},
     .URL = [](FailureScene& Scene) { return Url(Scene.Refusing.Port(), "/a"); },
     .Raises = ClassOf<ESockError>(),
     .Message = "Connection Failed",
     .Expected = {"AboutToSend", "Connect", "ConnectionFailed", "Disconnect"},
     .PeerSeesClose = false},
    {.Name = "HostCannotBeResolved",
     .Arrange = [](TestHTTP&, FailureScene&) {},
     .URL = [](FailureScene&) { return "http://" + UnresolvableName + "/a"; },
     .Raises = ClassOf<ESockError>(),
     .Message = "Null Remote Address",
     .Expected = {"AboutToSend", "Connect", "Disconnect"},
     .PeerSeesClose = false},
    {.Name = "ProxyPortWhereNothingListens",
     .Arrange =
         [](TestHTTP& H, FailureScene& Scene) {
             H.Proxy = "127.0.0.1";
             H.ProxyPort = Scene.Refusing.Port();
         },
     .URL = [](FailureScene&) { return std::string("http://srv/a"); },
     .Raises = ClassOf<ESockError>(),
     .Message = "Connection Failed",
     .Expected = {"AboutToSend", "Connect", "ConnectionFailed", "Disconnect"},
     .PeerSeesClose = false},
    {.Name = "SilentPeerTimesOut",
     .Arrange =
         [](TestHTTP& H, FailureScene& Scene) {
             H.TimeOut = 300;
             Scene.Peer.SetReplies({{{}, HttpPeerEnd::Silent}});
         },
     .URL = PeerUrl("/a"),
     .Raises = ClassOf<EAbortError>(),
     .Message = "Socket readln aborted",
     .Expected = {"AboutToSend", "Connect", "Disconnect"},
     .After = [](const TestHTTP& H) { EXPECT_TRUE(H.TimedOut); }},
    {.Name = "AbortDuringTextCapture",
     .Arrange =
         [](TestHTTP& H, FailureScene& Scene) {
             AbortOnFirstPacket(H);
             Scene.Peer.SetReplies({OnePacket("HTTP/1.0 200 OK\r\n\r\nfirst part", HttpPeerEnd::HoldOpen)});
         },
     .URL = PeerUrl("/a"),
     .Raises = ClassOf<EAbortError>(),
     .Message = "Socket capture aborted",
     .Expected = {"AboutToSend", "Connect", "Disconnect"},
     .After = [](const TestHTTP& H) { EXPECT_FALSE(H.TimedOut); }},
    {.Name = "AbortDuringFileCapture",
     .Arrange =
         [](TestHTTP& H, FailureScene& Scene) {
             AbortOnFirstPacket(H);
             H.InputFileMode = true;
             H.Body = "body.bin";
             Scene.Peer.SetReplies({OnePacket("HTTP/1.0 200 OK\r\n\r\nfirst part", HttpPeerEnd::HoldOpen)});
         },
     .URL = PeerUrl("/a"),
     .Raises = ClassOf<EAbortError>(),
     .Message = "Socket send aborted",
     .Expected = {"AboutToSend", "Connect", "Disconnect"}},
    {.Name = "AbortDuringCountedCapture",
     .Arrange =
         [](TestHTTP& H, FailureScene& Scene) {
             AbortOnFirstPacket(H);
             Scene.Peer.SetReplies({OnePacket("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nfirst part",
                                              HttpPeerEnd::HoldOpen)});
         },
     .URL = PeerUrl("/a"),
     .Raises = ClassOf<EAbortError>(),
     .Message = "Socket capture aborted",
     .Expected = {"AboutToSend", "Connect", "Disconnect"}},
    {.Name = "PeerClosesBeforeTheStatusLine",
     .Arrange = [](TestHTTP&, FailureScene& Scene) { Scene.Peer.SetReplies({OnePacket("")}); },
     .URL = PeerUrl("/a"),
     .Raises = ClassOf<ESockError>(),
     .Message = "Connection closed before the response header ended",
     .Expected = {"AboutToSend", "Connect", "Disconnect"}},
    {.Name = "PeerClosesBeforeTheAnnouncedLength",
     .Arrange =
         [](TestHTTP&, FailureScene& Scene) {
             Scene.Peer.SetReplies({OnePacket("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nshort")});
         },
     .URL = PeerUrl("/a"),
     .Raises = ClassOf<ESockError>(),
     .Message = "Connection closed before all data arrived",
     .Expected = {"AboutToSend", "Connect", "Disconnect"}},
    // Not its low 32 bits (5, what arrives): a length of 4 GB, far past the body limit.
    {.Name = "LengthBeyond32BitsIsPastTheLimit",
     .Arrange =
         [](TestHTTP&, FailureScene& Scene) {
             Scene.Peer.SetReplies({OnePacket("HTTP/1.0 200 OK\r\nContent-Length: 4294967301\r\n\r\nshort")});
         },
     .URL = PeerUrl("/a"),
     .Raises = ClassOf<ERangeError>(),
     .Message = "Response body longer than 67108864 bytes",
     .Expected = {"AboutToSend", "Connect", "Disconnect"},
     .After = [](const TestHTTP& H) { EXPECT_EQ(H.TransferTotal, 0); }},
    {.Name = "BodyFileCannotBeCreated",
     .Arrange =
         [](TestHTTP& H, FailureScene& Scene) {
             H.InputFileMode = true;
             H.Body = "no-such-folder/body.bin";
             Scene.Peer.SetReplies({OnePacket("HTTP/1.0 200 OK\r\n\r\nbody")});
         },
     .URL = PeerUrl("/a"),
     .Raises = ClassOf<EFileCreateError>(),
     .Message = "",
     .Expected = {"AboutToSend", "Connect", "Disconnect"}},
    {.Name = "HeaderFileCannotBeCreated",
     .Arrange =
         [](TestHTTP& H, FailureScene& Scene) {
             H.OutputFileMode = true;
             H.Header = "no-such-folder/head.txt";
             Scene.Peer.SetReplies({OnePacket("HTTP/1.0 200 OK\r\n\r\nbody")});
         },
     .URL = PeerUrl("/a"),
     .Raises = ClassOf<EFileCreateError>(),
     .Message = "",
     .Expected = {"AboutToSend", "Connect", "Disconnect"}},
    {.Name = "DataFileMissingFailsBeforeConnecting",
     .Cmd = Command::Put,
     .Arrange =
         [](TestHTTP& H, FailureScene&) {
             H.OutputFileMode = true;
             H.SendData = "missing.bin";
         },
     .URL = PeerUrl("/a"),
     .Raises = ClassOf<EFileOpenError>(),
     .Message = "",
     .Expected = {},
     .PeerSeesClose = false},
};

class Failure : public testing::TestWithParam<FailureCase> {};

TEST_P(Failure, RaisesAfterTheConnectionIsClosed) {
    const FailureCase& Case = GetParam();
    InTempFolder Work;
    FailureScene Scene;
    TestHTTP H(nullptr);
    H.TimeOut = 10000;
    Case.Arrange(H, Scene);
    H.OnAboutToSend = [&H](TComponent*) { H.Log.push_back("AboutToSend"); };
    H.OnConnectionFailed = [&H](TComponent*) { H.Log.push_back("ConnectionFailed"); };
    H.OnSuccess = [&H](CmdType) { H.Log.push_back("Success"); };
    H.OnFailure = [&H](CmdType) { H.Log.push_back("Failure"); };
    const std::string URL = Case.URL(Scene);

    try {
        HangGuard Guard(Case.Name, HangBound(H.TimeOut));
        RunCommand(H, Case.Cmd, URL, H.SendData);
        FAIL() << "no exception";
    } catch (const std::exception& E) {
        EXPECT_EQ(ClassOf(E), Case.Raises) << typeid(E).name() << ": " << E.what();
        if (!Case.Message.empty()) {
            EXPECT_EQ(std::string(E.what()), Case.Message);
        }
        // Already closed as the exception arrives here.
        EXPECT_FALSE(H.IsConnected);
        EXPECT_EQ(H.Log, Case.Expected);
        Case.After(H);
    }
    if (Case.PeerSeesClose) {
        EXPECT_TRUE(Scene.Peer.WaitClientClosed(0));
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, Failure, testing::ValuesIn(FailureCases),
                         [](const testing::TestParamInfo<FailureCase>& Info) {
                             return std::string(Info.param.Name);
                         });

// ---- Bodies that end without the peer closing -----------------------------------------------------

struct KeepAliveCase {
    const char* Name;
    Command Cmd = {};
    std::string Response = {};
    bool BodyToFile = false;
    int16_t ReplyCode = {};
    std::string Body = {};
};

void PrintTo(const KeepAliveCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

const KeepAliveCase KeepAliveCases[] = {
    {.Name = "BodyOfAnnouncedLength",
     .Cmd = Command::Get,
     .Response = "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Length: 5\r\n\r\nhello",
     .ReplyCode = 200,
     .Body = "hello"},
    {.Name = "BodyOfAnnouncedLengthToFile",
     .Cmd = Command::Get,
     .Response = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello",
     .BodyToFile = true,
     .ReplyCode = 200,
     .Body = "hello"},
    {.Name = "ZeroLength",
     .Cmd = Command::Get,
     .Response = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n",
     .ReplyCode = 200,
     .Body = ""},
    {.Name = "HeadHasNoBody",
     .Cmd = Command::Head,
     .Response = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n",
     .ReplyCode = 200,
     .Body = ""},
    {.Name = "NoContent204",
     .Cmd = Command::Get,
     .Response = "HTTP/1.1 204 No Content\r\n\r\n",
     .ReplyCode = 204,
     .Body = ""},
    {.Name = "NotModified304",
     .Cmd = Command::Get,
     .Response = "HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n",
     .ReplyCode = 304,
     .Body = ""},
    {.Name = "Informational1xx",
     .Cmd = Command::Get,
     .Response = "HTTP/1.1 102 Processing\r\n\r\n",
     .ReplyCode = 102,
     .Body = ""},
};

class KeepAlivePeer : public testing::TestWithParam<KeepAliveCase> {};

// A peer that keeps the connection open after a complete response does not hold the command: it ends
// without a time-out (the 20 s limit only turns a hang into a failure) and closes the connection itself.
TEST_P(KeepAlivePeer, CommandEndsWithoutWaitingForClose) {
    const KeepAliveCase& Case = GetParam();
    InTempFolder Work;
    HttpPeer Peer({OnePacket(Case.Response, HttpPeerEnd::HoldOpen)});
    TestHTTP H(nullptr);
    H.TimeOut = 20000;
    H.OnRedirect = [](bool& Handled) { Handled = true; };
    H.InputFileMode = Case.BodyToFile;
    if (Case.BodyToFile) H.Body = "body.bin";

    RunCommand(H, Case.Cmd, Url(Peer.Port(), "/k"));

    EXPECT_EQ(H.ReplyCode, Case.ReplyCode);
    EXPECT_EQ(Case.BodyToFile ? ReadWholeFile("body.bin") : H.Body, Case.Body);
    EXPECT_FALSE(H.TimedOut);
    EXPECT_TRUE(Peer.WaitClientClosed(0));
}

INSTANTIATE_TEST_SUITE_P(Responses, KeepAlivePeer, testing::ValuesIn(KeepAliveCases),
                         [](const testing::TestParamInfo<KeepAliveCase>& Info) {
                             return std::string(Info.param.Name);
                         });

// ---- The component itself -------------------------------------------------------------------------

TEST(Component, StartsWithItsDocumentedValues) {
    TVexHTTP H(nullptr);
    EXPECT_EQ(H.Header, "Head.txt");
    EXPECT_EQ(H.Body, "Default.htm");
    EXPECT_FALSE(H.InputFileMode);
    EXPECT_FALSE(H.OutputFileMode);
    EXPECT_TRUE(H.EncodePostData);
    EXPECT_EQ(H.MaxBodySize, 64 * 1024 * 1024);
    EXPECT_EQ(H.TimeOut, 0);
    EXPECT_EQ(H.Proxy, "");
    EXPECT_EQ(H.ProxyPort, 0);
    EXPECT_EQ(H.SendHeader->Count(), 0);
    const THeaderInfo& Info = *H.HeaderInfo;
    EXPECT_EQ(Info.LocalMailAddress + Info.LocalProgram + Info.Cookie + Info.Referer + Info.UserId +
                  Info.Password,
              "");
}

// Abort ends a look-up wait as well as a transfer, and says nothing of its own.
TEST(Component, AbortSetsWaitDoneAndCancelsSilently) {
    TVexHTTP H(nullptr);
    Events Statuses;
    H.ReportLevel = 8;
    H.OnStatus = [&](TComponent*, const std::string& Status) { Statuses.push_back(Status); };
    H.WaitDone = false;
    H.Abort();
    EXPECT_TRUE(H.WaitDone);
    EXPECT_TRUE(H.CancelRequested);
    EXPECT_EQ(Statuses, Events{"Canceling"});
}

} // namespace
