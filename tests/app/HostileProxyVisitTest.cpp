// A run over one hostile proxy: the hostile peers of support/HostilePeers.h and proxies that cannot be
// reached, each visited by the window's own VisitProxy with a short time-out. The line gets the mark its
// row states and the visit the failure text; nothing waits past the time-out, and the connection ends.
#include "app/ProxyList.h"

#include "AppFixtures.h"
#include "support/FileFixtures.h"
#include "support/HostilePeers.h"
#include "support/HttpPeer.h"
#include "support/LoopbackPorts.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

constexpr int32_t ShortTimeOut = 400;
// For the rows that end otherwise: the time-out bounds the whole request, and a megabyte of header read
// under the sanitizers on a loaded machine must not meet it.
constexpr int32_t LongTimeOut = 10000;

const char* const ReadLnTooLong = "ReadLn: line longer than 65536 bytes";
const char* const HeaderTooLong = "Response header longer than 1048576 bytes";
const char* const HeaderCut = "Connection closed before the response header ended";
const char* const Reset = "10054:Connection reset by peer";
const char* const Fetched = ""; // no failure

// Where the proxy line points when no hostile peer stands behind it.
enum class Unreachable { No, Refusing, Unanswered };

struct VisitCase {
    const char* Name;
    std::optional<HostileKind> Kind; // the peer behind the proxy line
    std::string Host = "127.0.0.1";
    Unreachable Port = Unreachable::No;
    std::string Mark = FailureMark;
    std::string Failure = {};
    bool TimesOut = false;
};

void PrintTo(const VisitCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

VisitCase Peer(HostileKind Kind, std::string Mark, std::string Failure, bool TimesOut = false) {
    return {HostileName(Kind),  Kind,    "127.0.0.1", Unreachable::No, std::move(Mark),
            std::move(Failure), TimesOut};
}

const VisitCase VisitCases[] = {
    Peer(HostileKind::HeaderDrip, FailureMark, "Socket readln aborted", true),
    Peer(HostileKind::EndlessHeader, FailureMark, HeaderTooLong),
    Peer(HostileKind::HugeHeaderLine, FailureMark, ReadLnTooLong),
    Peer(HostileKind::HugeLocation, FailureMark, ReadLnTooLong),
    Peer(HostileKind::HugeCookie, FailureMark, ReadLnTooLong),
    // The visit keeps its bodies in the scratch file, whose capture says "send" when it is aborted.
    Peer(HostileKind::EndlessBody, FailureMark, "Socket send aborted", true),
    Peer(HostileKind::EndlessCountedBody, FailureMark, "Socket send aborted", true),
    Peer(HostileKind::ResetInHeader, FailureMark, Reset),
    Peer(HostileKind::ResetInBody, FailureMark, Reset),
    Peer(HostileKind::ResetInCountedBody, FailureMark, Reset),
    Peer(HostileKind::CloseBeforeStatus, FailureMark, HeaderCut),
    Peer(HostileKind::CloseInHeader, FailureMark, HeaderCut),
    Peer(HostileKind::Garbage, FailureMark, HeaderCut),
    Peer(HostileKind::KeepAliveWithLength, SuccessMark, Fetched),
    Peer(HostileKind::KeepAliveWithoutLength, FailureMark, "Socket send aborted", true),
    Peer(HostileKind::LengthBeyondBody, FailureMark, "Socket send aborted", true),
    Peer(HostileKind::NegativeLength, SuccessMark, Fetched),
    Peer(HostileKind::LengthBeyond32Bits, FailureMark, "Response body longer than 67108864 bytes"),
    Peer(HostileKind::ChunkedClosed, SuccessMark, Fetched),
    Peer(HostileKind::ChunkedKeptAlive, FailureMark, "Socket send aborted", true),
    Peer(HostileKind::RedirectLoop, FailureMark, "Too many redirects"),
    // Followed through the same proxy, which refuses the tunnel.
    Peer(HostileKind::RedirectToHttps, FailureMark, "Proxy refused the tunnel: HTTP/1.0 403 Forbidden"),
    // An HTTP error status counts as fetched, early or not.
    Peer(HostileKind::Unauthorized, SuccessMark, Fetched),
    Peer(HostileKind::AnswersEarly, SuccessMark, Fetched),
    // The request fits the buffers of a peer that never reads; the answer is what never comes.
    Peer(HostileKind::NeverReads, FailureMark, "Socket readln aborted", true),
    {.Name = "UnresolvableHost",
     .Kind = {},
     .Host = std::string(70, 'n'), // longer than a name's label may be: fails without asking anyone
     .Port = Unreachable::Refusing,
     .Failure = "Null Remote Address"},
    {.Name = "RefusedPort", .Kind = {}, .Port = Unreachable::Refusing, .Failure = "Connection Failed"},
    {.Name = "RefusedPortOfNamedHost",
     .Kind = {},
     .Host = "localhost",
     .Port = Unreachable::Refusing,
     .Failure = "Connection Failed"},
    {.Name = "ConnectNeverCompletes",
     .Kind = {},
     .Port = Unreachable::Unanswered,
     .Failure = "Connection Timed out",
     .TimesOut = true},
};

class HostileProxyVisit : public FormFixture, public testing::WithParamInterface<VisitCase> {};

TEST_P(HostileProxyVisit, MarksTheLineAsStated) {
    const VisitCase& Case = GetParam();
    std::unique_ptr<LoopbackPeer> Proxy;
    if (Case.Kind) {
        HostileScene Scene = HostileScripts(*Case.Kind);
        Proxy = std::make_unique<LoopbackPeer>(Scene.Scripts, Scene.Options);
    }
    ClosedPort Refusing;
    UnansweredPort Unanswered;
    const uint16_t Port = Case.Port == Unreachable::Refusing     ? Refusing.Port()
                          : Case.Port == Unreachable::Unanswered ? Unanswered.Port()
                                                                 : Proxy->Port();
    const std::string Line = Case.Host + ":" + std::to_string(Port);
    Memo1.SetLines({Line});
    Memo2.SetLines({"http://127.0.0.1:1/page.html"});
    // The visit sets its own 30 s; every request of it then starts with the row's instead.
    const int32_t TimeOut = Case.TimesOut ? ShortTimeOut : LongTimeOut;
    Form.VexHTTP1->OnAboutToSend = [this, TimeOut](TComponent*) { Form.VexHTTP1->TimeOut = TimeOut; };

    Form.Button1Click(&Form);

    EXPECT_EQ(Memo1.Lines(), Lines{Line + Case.Mark});
    EXPECT_EQ(Form.LastVisitError, Case.Failure);
    EXPECT_EQ(Form.VexHTTP1->TimedOut, Case.TimesOut);
    EXPECT_FALSE(Form.VexHTTP1->IsConnected);
    // The run went on as after any visit: a pause, then the marks saved.
    EXPECT_EQ(ReadFileBytes(SettingsPath()),
              "1\r\nhttp://127.0.0.1:1/page.html\r\nEdit1\r\n100\r\n1\r\n" + Line + Case.Mark + "\r\n");
    // Whatever the proxy sent, no body of it stays on disk.
    EXPECT_EQ(NamesIn(Folder.Path()), Lines{"qelto.ini"});
    if (Proxy) {
        ASSERT_GE(Proxy->Accepted(), 1u);
        for (size_t I = 0; I < Proxy->Accepted(); ++I)
            EXPECT_TRUE(Proxy->WaitScriptDone(I)) << "connection " << I;
    }
}

INSTANTIATE_TEST_SUITE_P(Proxies, HostileProxyVisit, testing::ValuesIn(VisitCases),
                         [](const testing::TestParamInfo<VisitCase>& Info) {
                             return std::string(Info.param.Name);
                         });

// A proxy port outside 1..65535 is not cut to 16 bits, which would name another port (65536 + p is
// port p): the line fails with the reason, before any request, and gets the failure mark.
struct PortCase {
    const char* Name;
    int64_t PeerPortPlus; // added to the peer's port, or the port itself when Absolute
    bool Absolute;
};

void PrintTo(const PortCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class ProxyPortOutOfRange : public FormFixture, public testing::WithParamInterface<PortCase> {};

TEST_P(ProxyPortOutOfRange, FailsWithoutARequest) {
    HttpPeer Peer({OnePacket("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")});
    const PortCase& Case = GetParam();
    const int64_t Port = Case.Absolute ? Case.PeerPortPlus : Peer.Port() + Case.PeerPortPlus;
    const std::string Line = "127.0.0.1:" + std::to_string(Port);
    Memo1.SetLines({Line});
    Memo2.SetLines({"http://127.0.0.1:1/page.html"});

    Form.Button1Click(&Form);

    EXPECT_EQ(Memo1.Lines(), Lines{Line + FailureMark});
    EXPECT_EQ(Form.LastVisitError, "Proxy port " + std::to_string(Port) + " out of range (1 to 65535)");
    EXPECT_THROW(std::rethrow_exception(Form.LastVisitOutcome.Error), ERangeError);
    EXPECT_EQ(Peer.Connections(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Ports, ProxyPortOutOfRange,
                         testing::Values(PortCase{"PeerPortPlus65536", 65536, false},
                                         PortCase{"PeerPortPlus131072", 131072, false},
                                         PortCase{"Zero", 0, true}, PortCase{"Negative", -1, true},
                                         PortCase{"Highest32Bit", 2147483647, true}),
                         [](const testing::TestParamInfo<PortCase>& Info) {
                             return std::string(Info.param.Name);
                         });

// The edges that are ports: the visit is made.
TEST_F(FormFixture, ProxyPortsOneAndTheHighestAreVisited) {
    for (const char* Port : {"1", "65535"}) {
        Memo1.SetLines({std::string("127.0.0.1:") + Port});
        Memo2.SetLines({"http://127.0.0.1:1/page.html"});
        Form.Button1Click(&Form);
        EXPECT_EQ(Form.LastVisitError.find("out of range"), std::string::npos) << Form.LastVisitError;
    }
}

} // namespace
