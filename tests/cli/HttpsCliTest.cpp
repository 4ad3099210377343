// vindral-cli over https targets, as a user runs it: nginx serving https with the test authority's
// certificate, tinyproxy in front of it, and a loopback "proxy" that intercepts the tunnel with a
// certificate of its own; the test authority given with --ca-file.
#include "CliProcess.h"

#include "app/SettingsFile.h"
#include "platform/System.h"
#include "support/TlsPeer.h"
#include "support/TlsServers.h"

#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const std::string OkText = "(\u25CB)";
const std::string BadText = "(\u00D7)";

std::string SettingsBytes(const Lines& Targets, const Lines& Proxies) {
    std::string Bytes = std::to_string(Targets.size()) + "\n";
    for (const std::string& Target : Targets) Bytes += Target + "\n";
    Bytes += "http://from.example/\n100\n" + std::to_string(Proxies.size()) + "\n";
    for (const std::string& Proxy : Proxies) Bytes += Proxy + "\n";
    return Bytes;
}

// The proxy lines of a saved settings file, in UTF-8 and sorted.
Lines SavedProxies(const std::string& FileName) {
    const Lines All = SplitSettingsLines(ReadWholeFile(FileName));
    Lines Proxies;
    for (size_t I = std::stoul(All.at(0)) + 4; I < All.size(); ++I)
        Proxies.push_back(platform::SjisToUtf8(All[I]));
    std::sort(Proxies.begin(), Proxies.end());
    return Proxies;
}

TEST(HttpsCli, MarksProxiesWhoseTunnelsLeadToTheTrustedOrigin) {
    HttpsNginxServer Origin;
    Origin.AddFile("index.html", "<html>over TLS</html>");
    TinyproxyServer Working;
    TlsPeer Interceptor(TestCertificates::Get().OtherCa, {.AnswerConnect = true, .Reply = {}});
    const std::string WorkingLine = "127.0.0.1:" + std::to_string(Working.Port());
    const std::string InterceptorLine = "127.0.0.1:" + std::to_string(Interceptor.Port());
    TempFolder Folder;
    const std::string Settings = Folder.WriteFile(
        "qelto.ini", SettingsBytes({Origin.HttpsUrl("index.html"), Origin.HttpUrl("to-https/index.html")},
                                   {WorkingLine, InterceptorLine}));

    CliProcess Run({"--settings", Settings, "--pause-max", "0", "--ca-file", TestCertificates::Get().CaFile});

    ASSERT_EQ(Run.Finish(), 0) << Run.Stderr();
    Lines Expected{WorkingLine + OkText, InterceptorLine + BadText};
    std::sort(Expected.begin(), Expected.end());
    EXPECT_EQ(SavedProxies(Settings), Expected);
    const std::string Reason = std::string(" - TLS certificate not verified: ") +
                               X509_verify_cert_error_string(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY);
    EXPECT_NE(Run.Stdout().find(InterceptorLine + BadText), std::string::npos) << Run.Stdout();
    EXPECT_NE(Run.Stdout().find(Reason), std::string::npos) << Run.Stdout();
    EXPECT_EQ(Interceptor.Connection(0).Decrypted, "");
}

} // namespace
