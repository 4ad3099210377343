// The client against software nobody here wrote: tinyproxy in front of nginx, both on loopback ports.
#include "HttpTestKit.h"
#include "net/SocketErrors.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::string RandomBytes(size_t Size) {
    std::mt19937 Rng(7);
    std::string Bytes(Size, '\0');
    for (char& C : Bytes) C = static_cast<char>(Rng() & 0xFF);
    return Bytes;
}

class ThroughTinyproxy : public testing::Test {
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
    TinyproxyServer Proxy;
    InTempFolder Work;
    TestHTTP H{nullptr};
    int Successes = 0;
    int Failures = 0;
};

TEST_F(ThroughTinyproxy, FetchesAPage) {
    const std::string Page = "<html><body>hello through a proxy</body></html>\n";
    Origin.AddFile("index.html", Page);

    H.Get(Origin.Url("index.html"));

    EXPECT_EQ(H.ReplyCode, 200);
    EXPECT_EQ(H.Body, Page);
    EXPECT_EQ(H.TransferTotal, static_cast<int32_t>(Page.size()));
    EXPECT_EQ(Successes, 1);
    EXPECT_EQ(Failures, 0);
    EXPECT_NE(H.Header.find("Server: nginx"), std::string::npos) << H.Header;
}

TEST_F(ThroughTinyproxy, ReportsAMissingPageAsFailureWithoutRaising) {
    H.Get(Origin.Url("missing.html"));

    EXPECT_EQ(H.ReplyCode, 404);
    EXPECT_EQ(Failures, 1);
    EXPECT_EQ(Successes, 0);
}

TEST_F(ThroughTinyproxy, WritesALargeBodyToAFileByteForByte) {
    const std::string Content = RandomBytes(5 * 1024 * 1024 + 17);
    Origin.AddFile("large.bin", Content);
    H.InputFileMode = true;
    H.Body = "large.bin";

    H.Get(Origin.Url("large.bin"));

    EXPECT_EQ(H.ReplyCode, 200);
    EXPECT_EQ(H.TransferTotal, static_cast<int32_t>(Content.size()));
    EXPECT_TRUE(ReadWholeFile("large.bin") == Content) << "the file differs from the origin's";
}

TEST_F(ThroughTinyproxy, ProxyPortWhereNothingListensRaises) {
    H.ProxyPort = FreeLoopbackPort();
    EXPECT_THROW(H.Get(Origin.Url("index.html")), ESockError);
    EXPECT_FALSE(H.IsConnected);
    EXPECT_EQ(Successes + Failures, 0);
}

// nginx answers a folder named without its trailing "/" with a redirect to the folder.
TEST_F(ThroughTinyproxy, FollowsTheOriginsRedirect) {
    Origin.AddFile("dir/index.html", "in the folder");
    int Redirects = 0;
    H.OnRedirect = [&](bool&) { ++Redirects; };

    H.Get(Origin.Url("dir"));

    EXPECT_EQ(Redirects, 1);
    EXPECT_EQ(H.ReplyCode, 200);
    EXPECT_EQ(H.Body, "in the folder");
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
