// Nothing of one proxy's visit goes along with the next: a proxy that sets a cookie on a redirect gets it
// back on the redirect's own request, and no other proxy ever receives it, one at a time or many at once.
// A cookie left on the window's component before the run goes to nobody either.
#include "app/ProxyList.h"

#include "AppFixtures.h"
#include "HangGuard.h"
#include "support/HttpPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

const std::string Ok = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";

class CookieIsolation : public FormFixture, public testing::WithParamInterface<int> {};

TEST_P(CookieIsolation, ARedirectsCookieReachesNoOtherProxy) {
    HttpPeer Setter({OnePacket("HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:9/next.html\r\n"
                               "Set-Cookie: id=from-setter\r\nContent-Length: 0\r\n\r\n"),
                     OnePacket(Ok)});
    std::vector<std::unique_ptr<HttpPeer>> Others;
    std::vector<std::string> List = {"127.0.0.1:" + std::to_string(Setter.Port())};
    for (int I = 0; I < 5; ++I) {
        Others.push_back(std::make_unique<HttpPeer>(std::vector<HttpPeerReply>{OnePacket(Ok)}));
        List.push_back("127.0.0.1:" + std::to_string(Others.back()->Port()));
    }
    // The setter comes first: one at a time, every other visit comes after its cookie.
    List[0] += SuccessMark;
    Memo1.SetLines(List);
    Memo2.SetLines({"http://127.0.0.1:9/page.html"});
    Form.Jobs = GetParam();
    Form.PauseMax = 0;
    Form.VexHTTP1->HeaderInfo->Cookie = "left=over";
    {
        THangGuard Guard(60s, "a run over a cookie-setting proxy");
        Form.Button1Click(&Form);
    }

    for (const std::string& Line : Memo1.Lines()) EXPECT_EQ(Line, ProxyKey(Line) + SuccessMark);
    const std::vector<std::string> Redirected = Setter.Requests(2);
    ASSERT_EQ(Redirected.size(), 2u);
    EXPECT_EQ(Redirected[0].find("Cookie:"), std::string::npos) << Redirected[0];
    EXPECT_NE(Redirected[1].find("Cookie: id=from-setter\r\n"), std::string::npos) << Redirected[1];
    for (const auto& Other : Others) {
        const std::vector<std::string> Requests = Other->Requests(1);
        ASSERT_EQ(Requests.size(), 1u);
        EXPECT_EQ(Requests[0].find("Cookie:"), std::string::npos) << Requests[0];
    }
}

INSTANTIATE_TEST_SUITE_P(Jobs, CookieIsolation, testing::Values(1, 3),
                         [](const testing::TestParamInfo<int>& Info) {
                             return "AtATime" + std::to_string(Info.param);
                         });

} // namespace
