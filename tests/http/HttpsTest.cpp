// https URLs against scripted peers: how they are parsed, the exact bytes of the CONNECT request and of
// the request that goes through the tunnel, and the failures of the tunnel and of TLS, each with its
// cause in the text.
#include "HttpTestKit.h"
#include "framework/Exceptions.h"
#include "http/ConnectTunnel.h"
#include "net/SocketErrors.h"
#include "net/TThreadTimer.h"
#include "support/HttpPeer.h"
#include "support/LoopbackPeer.h"
#include "support/TlsPeer.h"
#include "support/TlsServers.h"

#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace {

using namespace std::chrono_literals;

const char* const Accepts = "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                            "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
const char* const Established = "HTTP/1.0 200 Connection established\r\n\r\n";

std::string NotVerified(int Reason) {
    return std::string("TLS certificate not verified: ") + X509_verify_cert_error_string(Reason);
}

// A component with https on that trusts the test authority, sending Vindral-test as its program.
struct SecureHTTP : TestHTTP {
    SecureHTTP() : TestHTTP(nullptr) {
        SecureSocket = true;
        CaFile = TestCertificates::Get().CaFile;
        TimeOut = 10000;
        HeaderInfo->LocalProgram = "Vindral-test";
    }
};

// Calls Abort on Target once, Milliseconds after construction, from a window timer of the thread.
class AbortLater {
public:
    AbortLater(TVexHTTP& Target, uint32_t Milliseconds) : FTimer(nullptr) {
        FTimer.SetInterval(Milliseconds);
        FTimer.SetOnTimer([this, &Target](TComponent*) {
            FTimer.SetEnabled(false);
            Target.Abort();
        });
        FTimer.SetEnabled(true);
    }

private:
    TThreadTimer FTimer;
};

// ---- Parsing ----

TEST(HttpsParse, SchemeGivesPortAndTlsOnlyWhenSwitchedOn) {
    TestHTTP H(nullptr);
    H.URL = "https://srv/a";
    EXPECT_THROW(
        {
            try {
                H.ParseURL();
            } catch (const Exception& E) {
                EXPECT_EQ(E.Message, "HTTP Secure Socket is not supported");
                throw;
            }
        },
        Exception);

    H.SecureSocket = true;
    struct Step {
        std::string URL;
        std::string Host;
        int32_t Port;
        std::string Path;
        bool Secure;
    };
    // One component through the steps: a URL without ":" keeps the port and the scheme it had.
    const Step Steps[] = {
        {"https://srv/a", "srv", 443, "/a", true}, {"HTTPS://srv:8443", "srv", 8443, "/", true},
        {"/next", "srv", 8443, "/next", true},     {"http://plain/", "plain", 80, "/", false},
        {"https://srv", "srv", 443, "/", true},    {"other/x", "other", 443, "/x", true}};
    for (const Step& S : Steps) {
        SCOPED_TRACE(S.URL);
        H.URL = S.URL;
        H.ParseURL();
        EXPECT_EQ(H.Host, S.Host);
        EXPECT_EQ(H.Port, S.Port);
        EXPECT_EQ(H.Path, S.Path);
        EXPECT_EQ(H.SecureURL, S.Secure);
    }
}

// ---- The bytes on the wire ----

TEST(HttpsRequest, ConnectRequestBytes) {
    EXPECT_EQ(ConnectRequest("srv:443", "", ""), "CONNECT srv:443 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(ConnectRequest("srv:8443", "Agent/1", "Basic dTpw"),
              "CONNECT srv:8443 HTTP/1.0\r\nUser-Agent: Agent/1\r\nProxy-Authorization: Basic dTpw\r\n\r\n");
    for (const auto& [Authority, Agent] : {std::pair{"srv:443\r\nX: y", ""}, std::pair{"srv:443", "a\nb"}})
        EXPECT_THROW(ConnectRequest(Authority, Agent, ""), Exception);
}

// Through a proxy the component asks for a tunnel to the URL's host and port; through the tunnel it
// sends the request in the origin's form, without the lines meant for a proxy.
TEST(HttpsRequest, TunnelThenOriginFormOverTls) {
    TlsPeer Proxy(TestCertificates::Get().Server,
                  {.AnswerConnect = true, .Reply = {"HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nsecret"}});
    SecureHTTP H;
    H.Proxy = "127.0.0.1";
    H.ProxyPort = Proxy.Port();
    H.HeaderInfo->Referer = "http://from/";
    const std::string Port = std::to_string(Proxy.Port());

    H.Get("https://localhost:" + Port + "/a/b?c=d");

    EXPECT_EQ(H.ReplyCode, 200);
    EXPECT_EQ(H.Body, "secret");
    const TlsPeer::TConnection Seen = Proxy.Connection(0);
    EXPECT_EQ(Seen.Clear, "CONNECT localhost:" + Port + " HTTP/1.0\r\nUser-Agent: Vindral-test\r\n\r\n");
    EXPECT_TRUE(Seen.Handshaken);
    EXPECT_EQ(Seen.Decrypted, std::string("GET /a/b?c=d HTTP/1.0\r\nHost: localhost\r\n") + Accepts +
                                  "User-Agent: Vindral-test\r\nReferer: http://from/\r\n"
                                  "Content-type: application/x-www-form-urlencoded\r\n\r\n");
}

// Without a proxy TLS goes straight to the host, on 443 unless the URL names a port.
TEST(HttpsRequest, StraightToTheHost) {
    TlsPeer Origin(TestCertificates::Get().Server, {.Reply = {"HTTP/1.0 200 OK\r\n\r\ndirect"}});
    SecureHTTP H;
    H.RouteToPort = Origin.Port();
    H.Get("https://localhost/index.html");

    EXPECT_EQ(H.Port, 443);
    EXPECT_EQ(H.Body, "direct");
    const TlsPeer::TConnection Seen = Origin.Connection(0);
    EXPECT_EQ(Seen.Clear, "");
    EXPECT_EQ(Seen.Decrypted.rfind("GET /index.html HTTP/1.0\r\nHost: localhost\r\n", 0), 0u)
        << Seen.Decrypted;
}

// A proxy's own credentials, when a descendant's request carries them, go with the CONNECT request.
TEST(HttpsRequest, ProxyCredentialsOfTheAssembledRequestGoWithConnect) {
    struct WithProxyCredentials : SecureHTTP {
        void AssembleHTTPHeader() override {
            SecureHTTP::AssembleHTTPHeader();
            SendHeader->SetValue("Proxy-Authorization", "Basic cHJveHk6c2VjcmV0");
        }
    } H;
    HttpPeer Proxy({OnePacket("HTTP/1.0 407 Proxy Authentication Required\r\n\r\n")});
    H.Proxy = "127.0.0.1";
    H.ProxyPort = Proxy.Port();

    EXPECT_THROW(H.Get("https://srv.example:8443/"), ESockError);

    EXPECT_EQ(Proxy.Requests(1).at(0), "CONNECT srv.example:8443 HTTP/1.0\r\nUser-Agent: Vindral-test\r\n"
                                       "Proxy-Authorization: Basic cHJveHk6c2VjcmV0\r\n\r\n");
}

// ---- Failures ----

// What stands behind the proxy address for one row: a scripted proxy of some kind.
struct Scene {
    std::unique_ptr<HttpPeer> Http;
    std::unique_ptr<LoopbackPeer> Loopback;
    std::unique_ptr<TlsPeer> Tls;
    uint16_t Port() const { return Http ? Http->Port() : Loopback ? Loopback->Port() : Tls->Port(); }
};

struct FailureCase {
    const char* Name;
    std::function<Scene()> Make;
    std::string Message;
    bool TimesOut = false;
    bool Aborts = false;
};

void PrintTo(const FailureCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

const FailureCase FailureCases[] = {
    {"ProxyRefuses",
     [] {
         return Scene{std::make_unique<HttpPeer>(std::vector<HttpPeerReply>{
                          OnePacket("HTTP/1.0 403 Forbidden\r\nContent-Length: 9\r\n\r\nForbidden")}),
                      nullptr, nullptr};
     },
     "Proxy refused the tunnel: HTTP/1.0 403 Forbidden"},
    {"ProxyClosesInItsReply",
     [] {
         return Scene{nullptr,
                      std::make_unique<LoopbackPeer>(PeerScript()
                                                         .ReceiveUntil("\r\n\r\n")
                                                         .Send("HTTP/1.0 200 Connection established\r\n")
                                                         .Close()),
                      nullptr};
     },
     "Connection closed before the proxy's tunnel reply ended"},
    {"ProxyInterceptsWithItsOwnAuthority",
     [] {
         return Scene{nullptr, nullptr,
                      std::make_unique<TlsPeer>(TestCertificates::Get().OtherCa,
                                                TlsPeerScript{.AnswerConnect = true, .Reply = {}})};
     },
     NotVerified(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY)},
    {"ProxyInterceptsWithAnotherHostsCertificate",
     [] {
         return Scene{nullptr, nullptr,
                      std::make_unique<TlsPeer>(TestCertificates::Get().OtherHost,
                                                TlsPeerScript{.AnswerConnect = true, .Reply = {}})};
     },
     NotVerified(X509_V_ERR_HOSTNAME_MISMATCH)},
    {"PeerClosesInTheHandshake",
     [] {
         // The hello is past the CONNECT request, whose length the peer knows.
         const size_t Request = ConnectRequest("localhost:443", "Vindral-test", "").size();
         return Scene{
             nullptr,
             std::make_unique<LoopbackPeer>(
                 PeerScript().ReceiveUntil("\r\n\r\n").Send(Established).ReceiveAtLeast(Request + 1).Close()),
             nullptr};
     },
     "Connection closed during the TLS handshake"},
    {"PeerSilentInTheHandshake",
     [] {
         return Scene{
             nullptr,
             std::make_unique<LoopbackPeer>(PeerScript().ReceiveUntil("\r\n\r\n").Send(Established).Hold()),
             nullptr};
     },
     "TLS Handshake Timed out", true},
    {"AbortInTheHandshake",
     [] {
         return Scene{
             nullptr,
             std::make_unique<LoopbackPeer>(PeerScript().ReceiveUntil("\r\n\r\n").Send(Established).Hold()),
             nullptr};
     },
     "TLS Handshake Canceled", false, true},
};

class HttpsFailures : public testing::TestWithParam<FailureCase> {};

// Every failure is ESockError with its cause in the text, fires no outcome event, leaves the connection
// closed, and never sends the request to whoever stands in the tunnel.
TEST_P(HttpsFailures, NameTheCause) {
    const FailureCase& Case = GetParam();
    Scene Proxy = Case.Make();
    SecureHTTP H;
    H.Proxy = "127.0.0.1";
    H.ProxyPort = Proxy.Port();
    H.TimeOut = Case.TimesOut ? 400 : 10000;
    int Outcomes = 0;
    H.OnSuccess = [&](CmdType) { ++Outcomes; };
    H.OnFailure = [&](CmdType) { ++Outcomes; };
    std::unique_ptr<AbortLater> Abort;
    if (Case.Aborts) Abort = std::make_unique<AbortLater>(H, 150);
    const auto Start = std::chrono::steady_clock::now();

    std::string Message;
    try {
        H.Get("https://localhost/page.html");
    } catch (const EAbortError& E) {
        Message = "EAbortError " + E.Message;
    } catch (const ESockError& E) {
        Message = E.Message;
    }

    EXPECT_EQ(Message, Case.Message);
    EXPECT_EQ(Outcomes, 0);
    EXPECT_FALSE(H.IsConnected);
    EXPECT_FALSE(H.TlsActive());
    EXPECT_EQ(H.TimedOut, Case.TimesOut);
    if (Case.TimesOut) {
        EXPECT_LT(std::chrono::steady_clock::now() - Start, 5s);
    }
    if (Proxy.Tls) {
        EXPECT_EQ(Proxy.Tls->Connection(0).Decrypted, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Proxies, HttpsFailures, testing::ValuesIn(FailureCases),
                         [](const testing::TestParamInfo<FailureCase>& Info) { return Info.param.Name; });

} // namespace
