// The client against software nobody here wrote: nginx as the origin, tinyproxy or squid in front of it,
// all on loopback ports.
#include "HttpTestKit.h"
#include "net/SocketErrors.h"
#include "support/LoopbackPorts.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

namespace {

std::string RandomBytes(size_t Size) {
    std::mt19937 Rng(7);
    std::string Bytes(Size, '\0');
    for (char& C : Bytes) C = static_cast<char>(Rng() & 0xFF);
    return Bytes;
}

enum class ProxyKind { Tinyproxy, Squid };

void PrintTo(ProxyKind Kind, std::ostream* Out) {
    *Out << (Kind == ProxyKind::Tinyproxy ? "tinyproxy" : "squid");
}

// One of the two proxies, started for the test.
class RealProxy {
public:
    explicit RealProxy(ProxyKind Kind) {
        if (Kind == ProxyKind::Tinyproxy)
            FTinyproxy = std::make_unique<TinyproxyServer>();
        else
            FSquid = std::make_unique<SquidServer>();
    }
    uint16_t Port() const { return FTinyproxy ? FTinyproxy->Port() : FSquid->Port(); }

private:
    std::unique_ptr<TinyproxyServer> FTinyproxy;
    std::unique_ptr<SquidServer> FSquid;
};

class ThroughProxy : public testing::TestWithParam<ProxyKind> {
protected:
    void SetUp() override {
        H.TimeOut = 30000;
        H.Proxy = "127.0.0.1";
        H.ProxyPort = Proxy.Port();
        H.HeaderInfo->LocalProgram = "Vindral-test";
        H.OnSuccess = [this](CmdType) { ++Successes; };
        H.OnFailure = [this](CmdType) { ++Failures; };
    }

    NginxServer Origin;
    RealProxy Proxy{GetParam()};
    InTempFolder Work;
    TestHTTP H{nullptr};
    int Successes = 0;
    int Failures = 0;
};

// squid keeps the connection open after the response ("Connection: keep-alive"); the command must
// still end with the body, not with the time-out.
TEST_P(ThroughProxy, FetchesAPage) {
    const std::string Page = "<html><body>hello through a proxy</body></html>\n";
    Origin.AddFile("index.html", Page);

    H.Get(Origin.Url("index.html"));

    EXPECT_EQ(H.ReplyCode, 200);
    EXPECT_EQ(H.Body, Page);
    EXPECT_EQ(H.TransferTotal, static_cast<int32_t>(Page.size()));
    EXPECT_EQ(Successes, 1);
    EXPECT_EQ(Failures, 0);
    EXPECT_FALSE(H.TimedOut);
    EXPECT_NE(H.Header.find("Server: nginx"), std::string::npos) << H.Header;
    if (GetParam() == ProxyKind::Squid) {
        EXPECT_NE(H.Header.find("Connection: keep-alive"), std::string::npos) << H.Header;
    }
}

TEST_P(ThroughProxy, ReportsAMissingPageAsFailureWithoutRaising) {
    H.Get(Origin.Url("missing.html"));

    EXPECT_EQ(H.ReplyCode, 404);
    EXPECT_EQ(Failures, 1);
    EXPECT_EQ(Successes, 0);
    EXPECT_FALSE(H.TimedOut);
}

TEST_P(ThroughProxy, WritesALargeBodyToAFileByteForByte) {
    const std::string Content = RandomBytes(5 * 1024 * 1024 + 17);
    Origin.AddFile("large.bin", Content);
    H.InputFileMode = true;
    H.Body = "large.bin";

    H.Get(Origin.Url("large.bin"));

    EXPECT_EQ(H.ReplyCode, 200);
    EXPECT_EQ(H.TransferTotal, static_cast<int32_t>(Content.size()));
    EXPECT_TRUE(ReadWholeFile("large.bin") == Content) << "the file differs from the origin's";
}

// nginx answers a folder named without its trailing "/" with a redirect to the folder.
TEST_P(ThroughProxy, FollowsTheOriginsRedirect) {
    Origin.AddFile("dir/index.html", "in the folder");
    int Redirects = 0;
    H.OnRedirect = [&](bool&) { ++Redirects; };

    H.Get(Origin.Url("dir"));

    EXPECT_EQ(Redirects, 1);
    EXPECT_EQ(H.ReplyCode, 200);
    EXPECT_EQ(H.Body, "in the folder");
}

INSTANTIATE_TEST_SUITE_P(RealProxies, ThroughProxy, testing::Values(ProxyKind::Tinyproxy, ProxyKind::Squid),
                         [](const testing::TestParamInfo<ProxyKind>& Info) {
                             return Info.param == ProxyKind::Tinyproxy ? "Tinyproxy" : "Squid";
                         });

TEST(ThroughNoProxy, ProxyPortWhereNothingListensRaises) {
    NginxServer Origin;
    TestHTTP H(nullptr);
    H.TimeOut = 30000;
    H.Proxy = "127.0.0.1";
    ClosedPort Refusing;
    H.ProxyPort = Refusing.Port();
    int Outcomes = 0;
    H.OnSuccess = [&](CmdType) { ++Outcomes; };
    H.OnFailure = [&](CmdType) { ++Outcomes; };

    EXPECT_THROW(H.Get(Origin.Url("index.html")), ESockError);
    EXPECT_FALSE(H.IsConnected);
    EXPECT_EQ(Outcomes, 0);
}

TEST(StraightToNginx, FetchesAPage) {
    NginxServer Origin;
    Origin.AddFile("page.html", "direct");
    TestHTTP H(nullptr);
    H.TimeOut = 30000;

    H.Get(Origin.Url("page.html"));

    EXPECT_EQ(H.ReplyCode, 200);
    EXPECT_EQ(H.Body, "direct");
    EXPECT_EQ(H.Host, "127.0.0.1");
}

} // namespace
