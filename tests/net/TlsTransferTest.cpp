// The socket component over TLS: the handshake's outcomes, and the transfers on the decrypted stream,
// against a scripted TLS peer and scripted loopback peers.
#include "SocketTestKit.h"
#include "framework/Exceptions.h"
#include "net/SocketErrors.h"
#include "net/TDovrel.h"
#include "platform/Sockets.h"
#include "support/LoopbackPeer.h"
#include "support/TlsPeer.h"
#include "support/TlsServers.h"

#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>
#include <random>
#include <string>
#include <vector>

using namespace sockettest;

namespace {

std::string NotVerified(int Reason) {
    return std::string("TLS certificate not verified: ") + X509_verify_cert_error_string(Reason);
}

std::string RandomBytes(size_t Size, unsigned FirstDraw) {
    std::mt19937 Rng(FirstDraw);
    std::string Bytes(Size, '\0');
    for (char& C : Bytes) C = static_cast<char>(Rng() & 0xFF);
    return Bytes;
}

// Contexts are shared by the tests: loading the system's store is slow under the sanitizers. Every peer
// has a port of its own, so no session of one is offered to another.
TTlsContext& TrustingTestAuthority() {
    static TTlsContext Context(TestCertificates::Get().CaFile);
    return Context;
}
TTlsContext& TrustingSystemAlone() {
    static TTlsContext Context;
    return Context;
}

// A component connected to Port on 127.0.0.1, ready for StartTls.
struct TTlsClient {
    explicit TTlsClient(uint16_t Port, TTlsContext& AContext = TrustingTestAuthority()) : Context(AContext) {
        Socket.Host = "127.0.0.1";
        Socket.Port = Port;
        Socket.TimeOut = 10000;
        Socket.Connect();
    }
    TTlsContext& Context;
    TDovrel Socket{nullptr};
};

// The handshake's outcome, as ESockError's text ("" for none).
std::string HandshakeOutcome(TTlsClient& Client, const std::string& ServerName) {
    return MessageOf<ESockError>([&] { Client.Socket.StartTls(Client.Context, ServerName); });
}

// ---- Verification ----

struct TVerifyCase {
    const char* Name;
    const TestCertificate& (*Certificate)();
    std::string ServerName;
    bool TrustTestAuthority;
    std::string Outcome; // "" for a verified connection
};

class TlsVerifyTest : public testing::TestWithParam<TVerifyCase> {};

// The connection is used only when the certificate verifies: otherwise the peer never gets a byte of
// the stream, and the failure names the reason.
TEST_P(TlsVerifyTest, HandshakeVerifiesChainAndName) {
    const TVerifyCase& Case = GetParam();
    TlsPeer Peer(Case.Certificate(), {.Reply = {"pong\r\n"}});
    TTlsClient Client(Peer.Port(), Case.TrustTestAuthority ? TrustingTestAuthority() : TrustingSystemAlone());

    EXPECT_EQ(HandshakeOutcome(Client, Case.ServerName), Case.Outcome);
    if (Case.Outcome.empty()) {
        EXPECT_TRUE(Client.Socket.TlsActive());
        Client.Socket.Write("ping\r\n\r\n");
        EXPECT_EQ(Client.Socket.ReadLn(), "pong\r\n");
    }
    Client.Socket.Disconnect();
    const TlsPeer::TConnection Seen = Peer.Connection(0);
    EXPECT_TRUE(Seen.Ended);
    EXPECT_EQ(Seen.Handshaken, Case.Outcome.empty());
    EXPECT_EQ(Seen.Decrypted, Case.Outcome.empty() ? "ping\r\n\r\n" : "");
}

const TestCertificate& Good() {
    return TestCertificates::Get().Server;
}
const TestCertificate& Expired() {
    return TestCertificates::Get().Expired;
}
const TestCertificate& OtherHost() {
    return TestCertificates::Get().OtherHost;
}
const TestCertificate& OtherAuthority() {
    return TestCertificates::Get().OtherCa;
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, TlsVerifyTest,
    testing::Values(
        TVerifyCase{"ByName", Good, "localhost", true, ""},
        TVerifyCase{"ByAddress", Good, "127.0.0.1", true, ""},
        TVerifyCase{"NameInAnyCase", Good, "LocalHost", true, ""},
        TVerifyCase{"SystemStoreAlone", Good, "localhost", false,
                    NotVerified(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY)},
        TVerifyCase{"Expired", Expired, "localhost", true, NotVerified(X509_V_ERR_CERT_HAS_EXPIRED)},
        TVerifyCase{"OtherHost", OtherHost, "localhost", true, NotVerified(X509_V_ERR_HOSTNAME_MISMATCH)},
        TVerifyCase{"OtherAddress", Good, "127.0.0.2", true, NotVerified(X509_V_ERR_IP_ADDRESS_MISMATCH)},
        TVerifyCase{"OtherAuthority", OtherAuthority, "localhost", true,
                    NotVerified(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY)}),
    [](const testing::TestParamInfo<TVerifyCase>& Info) { return Info.param.Name; });

TEST(TlsContext, UnreadableAuthorityFileIsNamedInTheFailure) {
    TempFolder Folder;
    const std::string NotPem = Folder.WriteFile("not.pem", "no certificate here\n");
    for (const std::string& File : {NotPem, Folder.Path() + "/missing.pem"}) {
        const std::string Message = MessageOf<ESockError>([&] { TTlsContext Context(File); });
        EXPECT_EQ(Message.rfind("The certificate authority file " + File + " cannot be loaded: ", 0), 0u)
            << Message;
    }
}

TEST(TlsContext, EmptyServerNameIsRefusedBeforeAnyByteIsSent) {
    TlsPeer Peer(Good(), {});
    TTlsClient Client(Peer.Port());
    EXPECT_EQ(HandshakeOutcome(Client, ""), "TLS needs the server's host name to verify its certificate");
    Client.Socket.Disconnect();
    EXPECT_FALSE(Peer.Connection(0).Handshaken);
}

// ---- Handshake against peers that do not speak TLS ----

struct THandshakePeer {
    const char* Name;
    PeerScript (*Script)();
    std::string Outcome; // ESockError's text, or its beginning when Prefix
    bool Prefix = false;
};

class TlsHandshakeFailureTest : public testing::TestWithParam<THandshakePeer> {};

TEST_P(TlsHandshakeFailureTest, EndsWithTheCauseAndNoTimeOut) {
    const THandshakePeer& Case = GetParam();
    TConnected Pair(Case.Script());
    Pair.Socket.TimeOut = 10000;
    TTlsContext& Context = TrustingTestAuthority();

    const std::string Message = MessageOf<ESockError>([&] { Pair.Socket.StartTls(Context, "localhost"); });

    if (Case.Prefix)
        EXPECT_EQ(Message.rfind(Case.Outcome, 0), 0u) << Message;
    else
        EXPECT_EQ(Message, Case.Outcome);
    EXPECT_FALSE(Pair.Socket.TimedOut);
}

INSTANTIATE_TEST_SUITE_P(
    Peers, TlsHandshakeFailureTest,
    testing::Values(
        THandshakePeer{"ClosesAfterHello", [] { return PeerScript().ReceiveAtLeast(1).Close(); },
                       "Connection closed during the TLS handshake"},
        THandshakePeer{"ClosesAtOnce", [] { return PeerScript().Close(); },
                       "Connection closed during the TLS handshake"},
        THandshakePeer{"ResetsAfterHello", [] { return PeerScript().ReceiveAtLeast(1).Reset(); },
                       "TLS handshake failed: 10054:Connection reset by peer"},
        THandshakePeer{
            "AnswersInClearText",
            [] { return PeerScript().ReceiveAtLeast(1).Send("HTTP/1.0 400 Bad Request\r\n\r\n").Close(); },
            "TLS handshake failed: ", true}),
    [](const testing::TestParamInfo<THandshakePeer>& Info) { return Info.param.Name; });

TEST(TlsHandshake, SilentPeerEndsAtTheTimeOut) {
    TConnected Pair(PeerScript().Hold());
    Pair.Socket.TimeOut = 300;
    TTlsContext& Context = TrustingTestAuthority();
    const auto Start = std::chrono::steady_clock::now();

    EXPECT_EQ(MessageOf<ESockError>([&] { Pair.Socket.StartTls(Context, "localhost"); }),
              "TLS Handshake Timed out");

    EXPECT_TRUE(Pair.Socket.TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - Start, 300ms);
}

TEST(TlsHandshake, CancelDuringTheWaitEndsIt) {
    TConnected Pair(PeerScript().Hold());
    Pair.Socket.TimeOut = 0;
    TTlsContext& Context = TrustingTestAuthority();
    TCancelLater Cancel(Pair.Socket, 100);

    EXPECT_EQ(MessageOf<ESockError>([&] { Pair.Socket.StartTls(Context, "localhost"); }),
              "TLS Handshake Canceled");

    EXPECT_EQ(Cancel.Fired, 1);
    EXPECT_FALSE(Pair.Socket.TimedOut);
}

// ---- Transfers on the decrypted stream ----

// Whatever the TLS records cut (inside a line, between CR and LF), the lines come out whole and the
// bytes after them stay for the next read, as on a plain socket.
TEST(TlsTransfer, LinesAndCountsAcrossRecords) {
    const std::string Stream = "HTTP/1.0 200 OK\r\nServer: x\n\r\nbody:12345\r\nafter";
    for (size_t Cut = 1; Cut < Stream.size(); ++Cut) {
        SCOPED_TRACE("record cut before byte " + std::to_string(Cut));
        TlsPeer Peer(Good(), {.Reply = {Stream.substr(0, Cut), Stream.substr(Cut)}});
        TTlsClient Client(Peer.Port());
        Client.Socket.StartTls(Client.Context, "localhost");
        Client.Socket.Write("GET\r\n\r\n");

        EXPECT_EQ(Client.Socket.ReadLn(), "HTTP/1.0 200 OK\r\n");
        EXPECT_EQ(Client.Socket.ReadLn(), "Server: x\n");
        EXPECT_EQ(Client.Socket.ReadLn(), "\r\n");
        std::string Body;
        Client.Socket.CaptureStringCount(Body, 5);
        EXPECT_EQ(Body, "body:");
        EXPECT_EQ(Client.Socket.Read(7), "12345\r\n");
        std::string Rest;
        Client.Socket.CaptureString(Rest, -1);
        EXPECT_EQ(Rest, "after");
        EXPECT_EQ(Client.Socket.ReadLn(), "");
    }
}

TEST(TlsTransfer, LargeBodyToAFileByteForByte) {
    const std::string Body = RandomBytes(3 * 1024 * 1024 + 5, 11);
    TlsPeer Peer(Good(), {.Reply = {Body}});
    TTlsClient Client(Peer.Port());
    Client.Socket.StartTls(Client.Context, "localhost");
    Client.Socket.Write("GET\r\n\r\n");
    TempFolder Folder;
    const std::string File = Folder.Path() + "/body.bin";

    Client.Socket.CaptureFile(File);

    EXPECT_EQ(Client.Socket.ReceivedCount, static_cast<int32_t>(Body.size()));
    EXPECT_TRUE(ReadWholeFile(File) == Body) << "the file differs from what the peer sent";
}

// Records of 10,000 bytes read in chunks of 64 KB: a chunk ends inside a record, whose rest TLS holds
// decrypted while the socket has nothing more, and the peer sends nothing after the body. The read still
// ends with the body, not with the time-out.
TEST(TlsTransfer, CountedReadEndsWithBytesHeldByTls) {
    std::vector<std::string> Records;
    std::string Body;
    for (int I = 0; I < 7; ++I) {
        Records.push_back(RandomBytes(10000, 20 + I));
        Body += Records.back();
    }
    TlsPeer Peer(Good(), {.Reply = Records, .End = TlsPeerScript::TEnd::Hold});
    TTlsClient Client(Peer.Port());
    Client.Socket.TimeOut = 5000;
    Client.Socket.StartTls(Client.Context, "localhost");
    Client.Socket.Write("GET\r\n\r\n");
    ASSERT_TRUE(PumpUntil([&] { return QueuedBytes(Client.Socket) > 70000; }));

    std::string Got;
    Client.Socket.CaptureStringCount(Got, static_cast<int64_t>(Body.size()));

    EXPECT_FALSE(Client.Socket.TimedOut);
    EXPECT_TRUE(Got == Body);
}

// A reader driven by the read notification: once the first line is taken, the second is held decrypted
// by TLS while the socket has nothing more to show, and is announced all the same.
TEST(TlsTransfer, BytesHeldByTlsAreAnnouncedToTheReader) {
    TlsPeer Peer(Good(), {.Reply = {"first\r\nsecond\r\n"}, .End = TlsPeerScript::TEnd::Hold});
    TTlsClient Client(Peer.Port());
    Client.Socket.StartTls(Client.Context, "localhost");
    Client.Socket.Write("GET\r\n\r\n");
    // The whole record is queued, and its notification taken before anyone listens.
    ASSERT_TRUE(PumpUntil([&] { return QueuedBytes(Client.Socket) > 0; }));
    platform::ProcessMessages();
    std::vector<std::string> Lines;
    Client.Socket.OnDataReady = [&](TComponent*) {
        if (Client.Socket.DataAvailable()) Lines.push_back(Client.Socket.ReadLn());
    };

    Lines.push_back(Client.Socket.ReadLn());

    EXPECT_TRUE(PumpUntil([&] { return Lines.size() >= 2; }, 3s));
    EXPECT_EQ(Lines, (std::vector<std::string>{"first\r\n", "second\r\n"}));
}

// A stream that ends without close_notify may have been cut anywhere: a read to its end fails, while a
// read of a known length ends before it and succeeds. The cut comes a while after the bytes, so the
// socket's close notification reaches the component while the read waits.
TEST(TlsTransfer, StreamCutWithoutCloseNotify) {
    const std::string Body = "0123456789";
    {
        TlsPeer Peer(Good(), {.Reply = {Body}, .Pause = 200ms, .End = TlsPeerScript::TEnd::Cut});
        TTlsClient Client(Peer.Port());
        Client.Socket.StartTls(Client.Context, "localhost");
        Client.Socket.Write("GET\r\n\r\n");
        std::string Got;
        EXPECT_EQ(MessageOf<ESockError>([&] { Client.Socket.CaptureString(Got, -1); }),
                  "Connection closed before the end of the TLS stream");
        EXPECT_EQ(Got, Body);
    }
    {
        TlsPeer Peer(Good(), {.Reply = {Body}, .End = TlsPeerScript::TEnd::Cut});
        TTlsClient Client(Peer.Port());
        Client.Socket.StartTls(Client.Context, "localhost");
        Client.Socket.Write("GET\r\n\r\n");
        std::string Got;
        Client.Socket.CaptureStringCount(Got, static_cast<int64_t>(Body.size()));
        EXPECT_EQ(Got, Body);
    }
}

// TLS belongs to the connection: after Disconnect the component speaks plain TCP again.
TEST(TlsTransfer, DisconnectEndsTls) {
    TlsPeer Secure(Good(), {.Reply = {"secure\r\n"}});
    TTlsClient Client(Secure.Port());
    Client.Socket.StartTls(Client.Context, "localhost");
    Client.Socket.Write("GET\r\n\r\n");
    EXPECT_EQ(Client.Socket.ReadLn(), "secure\r\n");
    Client.Socket.Disconnect();
    EXPECT_FALSE(Client.Socket.TlsActive());

    LoopbackPeer Plain(PeerScript().Send("plain\r\n").Close());
    Client.Socket.Port = Plain.Port();
    Client.Socket.Connect();
    EXPECT_EQ(Client.Socket.ReadLn(), "plain\r\n");
}

} // namespace
