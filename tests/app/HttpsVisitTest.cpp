// https targets in a run: the visit fetches them over TLS through each proxy's tunnel, and a proxy whose
// tunnel does not lead to a certificate that verifies is marked as failed, whatever it answers after.
#include "app/ProxyList.h"

#include "AppFixtures.h"
#include "support/TlsPeer.h"
#include "support/TlsServers.h"

#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string NotVerified(int Reason) {
    return std::string("TLS certificate not verified: ") + X509_verify_cert_error_string(Reason);
}

const std::vector<std::string> Page = {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\npage"};

class HttpsVisit : public FormFixture {
protected:
    HttpsVisit() { Form.CaFile = TestCertificates::Get().CaFile; }

    static std::string Line(const TlsPeer& Proxy) { return "127.0.0.1:" + std::to_string(Proxy.Port()); }
};

// An honest tunnel to a certificate of the trusted authority succeeds; one that presents another
// authority's certificate, or another host's, fails, and its reason names the certificate's fault.
TEST_F(HttpsVisit, RunMarksOnlyVerifiedTunnelsAsWorking) {
    TlsPeer Honest(TestCertificates::Get().Server, {.AnswerConnect = true, .Reply = Page});
    TlsPeer Interceptor(TestCertificates::Get().OtherCa, {.AnswerConnect = true, .Reply = Page});
    TlsPeer OtherHost(TestCertificates::Get().OtherHost, {.AnswerConnect = true, .Reply = Page});
    Memo2.SetLines({"https://localhost/index.html"});
    Memo1.SetLines({Line(Honest), Line(Interceptor), Line(OtherHost)});
    std::vector<std::string> Failures;
    Form.OnVisitResult = [&](TForm1*, const TVisitResult& Result) {
        Failures.push_back(Result.Line + " " + Result.Failure);
    };

    Form.Button1Click(&Form);

    std::vector<std::string> Marked = Memo1.Lines();
    std::vector<std::string> Expected = {Line(Honest) + SuccessMark, Line(Interceptor) + FailureMark,
                                         Line(OtherHost) + FailureMark};
    std::sort(Marked.begin(), Marked.end());
    std::sort(Expected.begin(), Expected.end());
    EXPECT_EQ(Marked, Expected);
    std::sort(Failures.begin(), Failures.end());
    std::vector<std::string> Reasons = {
        Line(Honest) + SuccessMark + " ",
        Line(Interceptor) + FailureMark + " " + NotVerified(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY),
        Line(OtherHost) + FailureMark + " " + NotVerified(X509_V_ERR_HOSTNAME_MISMATCH)};
    std::sort(Reasons.begin(), Reasons.end());
    EXPECT_EQ(Failures, Reasons);
    // Only the honest end of a tunnel ever saw the request.
    EXPECT_NE(Honest.Connection(0).Decrypted, "");
    EXPECT_EQ(Interceptor.Connection(0).Decrypted, "");
    EXPECT_EQ(OtherHost.Connection(0).Decrypted, "");
}

// Without the extra authority the test's certificate leads nowhere the system's store knows.
TEST_F(HttpsVisit, SystemStoreAloneDoesNotTrustTheTestAuthority) {
    TlsPeer Honest(TestCertificates::Get().Server, {.AnswerConnect = true, .Reply = Page});
    Memo2.SetLines({"https://localhost/index.html"});
    Form.CaFile.clear();

    EXPECT_EQ(Form.VisitProxy("127.0.0.1", Honest.Port()), 0);
    EXPECT_EQ(Form.LastVisitError, NotVerified(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY));
}

} // namespace
