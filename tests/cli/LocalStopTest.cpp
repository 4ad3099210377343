// vindral-cli when this computer, not a proxy, fails a visit: a limit on the size of the program's files
// stands for a full disk, so a body of a megabyte cannot be kept. The proxy that worked before keeps its
// mark, the reason goes to standard error, the settings are saved and the exit status says so.
#include "CliProcess.h"

#include "app/ProxyList.h"
#include "app/SettingsFile.h"
#include "support/FileFixtures.h"
#include "support/HttpPeer.h"
#include "support/RealServers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr rlim_t DiskRoom = 256 * 1024;
const std::string DiskFailure = "Stream write error: File too large";

class CliLocalStop : public ::testing::TestWithParam<int> {
protected:
    // Starts vindral-cli with the file size limit and SIGXFSZ ignored, both of which it inherits; the
    // test process has them back as soon as the child is there.
    std::unique_ptr<CliProcess> StartWithFullDisk(const std::vector<std::string>& Arguments) {
        void (*OldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
        TLimitScope Limit(RLIMIT_FSIZE, DiskRoom);
        auto Run = std::make_unique<CliProcess>(Arguments);
        Limit.Restore();
        std::signal(SIGXFSZ, OldHandler);
        return Run;
    }

    TempFolder Folder;
};

// One at a time the run stops at the line; many at once it stops once the line, visited again alone,
// fails again.
TEST_P(CliLocalStop, LeavesTheLineSavesAndExitsWithStatus3) {
    HttpPeer Proxy({OnePacket("HTTP/1.0 200 OK\r\nContent-Length: 1048576\r\n\r\n" + std::string(1048576, 'b'))});
    const std::string Line = "127.0.0.1:" + std::to_string(Proxy.Port()) + SuccessMark;
    const std::string Settings = Folder.WriteFile(
        "qelto.ini", "1\nhttp://127.0.0.1:9/page.html\nhttp://from/\n100\n1\n" + Line + "\n");

    const auto Run =
        StartWithFullDisk({"--settings", Settings, "--pause-max", "0", "--jobs", std::to_string(GetParam())});
    EXPECT_EQ(Run->Finish(), 3) << Run->Stderr();

    const std::string Reason = "Stopped at line 1, left unmarked: this computer failed, not the proxy (" +
                               DiskFailure + ")";
    EXPECT_EQ(Run->Stderr(), "vindral-cli: " + Reason + "\n");
    EXPECT_EQ(Run->StdoutLines().back(), Reason);
    // Saved (CR LF), the mark of before kept.
    EXPECT_EQ(ReadWholeFile(Settings), "1\r\nhttp://127.0.0.1:9/page.html\r\nhttp://from/\r\n100\r\n1\r\n" + Line + "\r\n");
    EXPECT_EQ(NamesIn(Folder.Path() + "/"), std::vector<std::string>{"qelto.ini"});
}

INSTANTIATE_TEST_SUITE_P(Jobs, CliLocalStop, ::testing::Values(1, 3),
                         [](const ::testing::TestParamInfo<int>& Info) {
                             return "AtATime" + std::to_string(Info.param);
                         });

} // namespace
