// https targets against software nobody here wrote: nginx serving https with the test authority's
// certificates, reached through tinyproxy or squid (a CONNECT tunnel each) or straight, on loopback ports.
#include "HttpTestKit.h"
#include "net/SocketErrors.h"
#include "support/TlsServers.h"

#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <memory>
#include <random>

namespace {

std::string RandomBytes(size_t Size) {
    std::mt19937 Rng(17);
    std::string Bytes(Size, '\0');
    for (char& C : Bytes) C = static_cast<char>(Rng() & 0xFF);
    return Bytes;
}

std::string NotVerified(int Reason) {
    return std::string("TLS certificate not verified: ") + X509_verify_cert_error_string(Reason);
}

enum class ProxyKind { None, Tinyproxy, Squid };

class RealProxy {
public:
    explicit RealProxy(ProxyKind Kind) {
        if (Kind == ProxyKind::Tinyproxy) FTinyproxy = std::make_unique<TinyproxyServer>();
        if (Kind == ProxyKind::Squid) FSquid = std::make_unique<SquidServer>();
    }
    uint16_t Port() const { return FTinyproxy ? FTinyproxy->Port() : FSquid ? FSquid->Port() : 0; }

private:
    std::unique_ptr<TinyproxyServer> FTinyproxy;
    std::unique_ptr<SquidServer> FSquid;
};

class HttpsThrough : public testing::TestWithParam<ProxyKind> {
protected:
    void SetUp() override {
        H.SecureSocket = true;
        H.CaFile = TestCertificates::Get().CaFile;
        H.TimeOut = 30000;
        if (Proxy.Port() != 0) {
            H.Proxy = "127.0.0.1";
            H.ProxyPort = Proxy.Port();
        }
        H.HeaderInfo->LocalProgram = "Vindral-test";
        H.OnSuccess = [this](CmdType) { ++Successes; };
        H.OnFailure = [this](CmdType) { ++Failures; };
        H.OnRedirect = [this](bool&) { ++Redirects; };
        Origin.AddFile("page.html", Page);
    }

    const std::string Page = "<html><body>hello over TLS</body></html>\n";
    HttpsNginxServer Origin;
    RealProxy Proxy{GetParam()};
    InTempFolder Work;
    TestHTTP H{nullptr};
    int Successes = 0;
    int Failures = 0;
    int Redirects = 0;
};

TEST_P(HttpsThrough, FetchesAPage) {
    H.Get(Origin.HttpsUrl("page.html"));

    EXPECT_EQ(H.ReplyCode, 200);
    EXPECT_EQ(H.Body, Page);
    EXPECT_EQ(Successes, 1);
    EXPECT_FALSE(H.TimedOut);
    EXPECT_NE(H.Header.find("Server: nginx"), std::string::npos) << H.Header;
    EXPECT_FALSE(H.IsConnected);
}

TEST_P(HttpsThrough, WritesALargeBodyToAFileByteForByte) {
    const std::string Content = RandomBytes(6 * 1024 * 1024 + 3);
    Origin.AddFile("large.bin", Content);
    H.InputFileMode = true;
    H.Body = "large.bin";

    H.Get(Origin.HttpsUrl("large.bin"));

    EXPECT_EQ(H.ReplyCode, 200);
    EXPECT_EQ(H.TransferTotal, static_cast<int32_t>(Content.size()));
    EXPECT_TRUE(ReadWholeFile("large.bin") == Content) << "the file differs from the origin's";
}

TEST_P(HttpsThrough, ReportsAMissingPageAsFailureWithoutRaising) {
    H.Get(Origin.HttpsUrl("missing.html"));

    EXPECT_EQ(H.ReplyCode, 404);
    EXPECT_EQ(Failures, 1);
    EXPECT_EQ(Successes, 0);
}

// Redirects cross between the schemes both ways; a Location with a path alone keeps https and the port.
TEST_P(HttpsThrough, FollowsRedirectsBetweenTheSchemes) {
    struct Hop {
        std::string Start;
        std::string Final;
    };
    const Hop Hops[] = {{Origin.HttpUrl("to-https/page.html"), Origin.HttpsUrl("page.html")},
                        {Origin.HttpsUrl("to-http/page.html"), Origin.HttpUrl("page.html")},
                        {Origin.HttpsUrl("relative/page.html"), Origin.HttpsUrl("page.html")}};
    for (const Hop& Step : Hops) {
        SCOPED_TRACE(Step.Start);
        Redirects = 0;
        H.Get(Step.Start);
        EXPECT_EQ(Redirects, 1);
        EXPECT_EQ(H.ReplyCode, 200);
        EXPECT_EQ(H.Body, Page);
        EXPECT_EQ(H.URL, Step.Final);
    }
}

TEST_P(HttpsThrough, RedirectsAcrossTheSchemesAreBounded) {
    std::string Message;
    try {
        H.Get(Origin.HttpUrl("loop"));
    } catch (const Exception& E) {
        Message = E.Message;
    }
    EXPECT_EQ(Message, "Too many redirects");
    EXPECT_EQ(Redirects, TVexHTTP::MaxRedirects + 1);
}

// A certificate that does not verify ends the command before the request is sent.
TEST_P(HttpsThrough, CertificateFailuresNameTheReason) {
    const std::pair<uint16_t, std::string> Cases[] = {
        {Origin.ExpiredPort(), NotVerified(X509_V_ERR_CERT_HAS_EXPIRED)},
        {Origin.OtherHostPort(), NotVerified(X509_V_ERR_HOSTNAME_MISMATCH)}};
    for (const auto& [Port, Reason] : Cases) {
        std::string Message;
        try {
            H.Get(Origin.HttpsUrl("page.html", Port));
        } catch (const ESockError& E) {
            Message = E.Message;
        }
        EXPECT_EQ(Message, Reason);
        EXPECT_FALSE(H.IsConnected);
    }
    EXPECT_EQ(Successes + Failures, 0);
}

INSTANTIATE_TEST_SUITE_P(RealProxies, HttpsThrough,
                         testing::Values(ProxyKind::None, ProxyKind::Tinyproxy, ProxyKind::Squid),
                         [](const testing::TestParamInfo<ProxyKind>& Info) {
                             return Info.param == ProxyKind::None        ? "Straight"
                                    : Info.param == ProxyKind::Tinyproxy ? "Tinyproxy"
                                                                         : "Squid";
                         });

} // namespace
