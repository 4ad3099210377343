// vindral-cli with many proxies at once (--jobs) and its own time-out (--timeout), as a program: one
// result line per proxy as it finishes, the marks in the file, a signal that stops every visit under
// way at once, and SIGKILL at random moments of a fast run, after which the file is whole and holds only
// marks the run gave.
#include "CliProcess.h"

#include "app/MemoryControls.h"
#include "app/ProxyList.h"
#include "app/SettingsFile.h"
#include "platform/System.h"
#include "support/HttpPeer.h"
#include "support/LoopbackPorts.h"
#include "support/RealServers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

const std::string OkText = "(\u25CB)";
const std::string BadText = "(\u00D7)";

std::string SettingsBytes(const Lines& Targets, const Lines& Proxies) {
    std::string Bytes = std::to_string(Targets.size()) + "\n";
    for (const std::string& Target : Targets) Bytes += Target + "\n";
    Bytes += "Edit1\n100000\n" + std::to_string(Proxies.size()) + "\n";
    for (const std::string& Proxy : Proxies) Bytes += Proxy + "\n";
    return Bytes;
}

// The settings file as the window would load it, with what is wrong with its shape, if anything.
struct LoadedSettings {
    TMemoryMemo Targets;
    TMemoryMemo Proxies;
    std::string Problem;
};

void Load(const std::string& FileName, LoadedSettings& Loaded) {
    const Lines All = SplitSettingsLines(ReadWholeFile(FileName));
    TMemoryEdit From;
    TMemoryEdit Max;
    LoadSettingsFile(FileName, Loaded.Targets, From, Max, Loaded.Proxies);
    // Whole: the counts name exactly the lines that follow them.
    if (All.empty()) {
        Loaded.Problem = "empty file";
        return;
    }
    const size_t Targets = std::stoul(All[0]);
    if (All.size() < Targets + 4 || All.size() != Targets + 4 + std::stoul(All[Targets + 3]))
        Loaded.Problem = "counts and lines differ";
}

const std::regex ResultLine(R"(^\[(\d+)/(\d+)\] (\S*) (\d+) ms(?: - (.+))?$)");

class CliManyAtOnce : public ::testing::Test {
protected:
    std::string SettingsPath() const { return Folder.Path() + "/qelto.ini"; }
    TempFolder Folder;
};

// Working proxies (a real one and scripted ones), refused ports and silent listeners, eight at a time:
// one result line for each proxy, the right mark on each, all in the file; the silent ones cost one
// time-out each, side by side.
TEST_F(CliManyAtOnce, PrintsOneResultLinePerProxyAndSavesEveryMark) {
    NginxServer Origin;
    Origin.AddFile("a.html", "<html>a</html>");
    TinyproxyServer Real;
    std::vector<std::unique_ptr<HttpPeer>> Peers;
    std::vector<std::unique_ptr<ClosedPort>> Refused;
    std::map<std::string, std::string> Expected; // line -> marked line, in UTF-8
    auto AddLine = [&](uint16_t Port, const std::string& Mark) {
        const std::string Line = "127.0.0.1:" + std::to_string(Port);
        Expected[Line] = Line + Mark;
    };
    AddLine(Real.Port(), OkText);
    for (int I = 0; I < 6; ++I) {
        Peers.push_back(std::make_unique<HttpPeer>(
            std::vector<HttpPeerReply>{OnePacket("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")}));
        AddLine(Peers.back()->Port(), OkText);
        Peers.push_back(
            std::make_unique<HttpPeer>(std::vector<HttpPeerReply>{HttpPeerReply{{}, HttpPeerEnd::Silent}}));
        AddLine(Peers.back()->Port(), BadText);
        Refused.push_back(std::make_unique<ClosedPort>());
        AddLine(Refused.back()->Port(), BadText);
    }
    Lines List;
    for (const auto& [Line, Marked] : Expected) List.push_back(Line);
    Folder.WriteFile("qelto.ini", SettingsBytes({Origin.Url("a.html")}, List));

    const auto Start = std::chrono::steady_clock::now();
    CliProcess Run({"--settings", SettingsPath(), "--jobs", "8", "--pause-max", "0", "--timeout", "1500"});
    ASSERT_EQ(Run.Finish(), 0) << Run.Stderr();
    // Six silent proxies of 1.5 s each, side by side rather than 9 s one after another.
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 8s);

    std::map<std::string, std::string> Results;
    int Starts = 0;
    for (const std::string& Out : Run.StdoutLines()) {
        std::smatch Match;
        if (Out.rfind("Get ", 0) == 0) {
            ++Starts;
        } else if (std::regex_match(Out, Match, ResultLine)) {
            EXPECT_EQ(std::stoi(Match[2]), int(List.size()));
            const std::string Marked = Match[3];
            EXPECT_TRUE(Results.emplace(ProxyKey(Marked), Marked).second) << "a second result for " << Marked;
        } else {
            EXPECT_EQ(Out, "Shaking.");
        }
    }
    EXPECT_EQ(Starts, int(List.size()));
    EXPECT_EQ(Results, Expected);
    LoadedSettings Saved;
    Load(SettingsPath(), Saved);
    EXPECT_EQ(Saved.Problem, "");
    std::set<std::string> SavedLines;
    for (const std::string& Line : Saved.Proxies.Lines()) SavedLines.insert(platform::SjisToUtf8(Line));
    std::set<std::string> ExpectedLines;
    for (const auto& [Line, Marked] : Expected) ExpectedLines.insert(Marked);
    EXPECT_EQ(SavedLines, ExpectedLines);
}

// SIGINT while six silent proxies are visited at once: every one of them is aborted at once and keeps its
// line, the file is saved, and every connection is closed.
TEST_F(CliManyAtOnce, SignalStopsEveryVisitUnderWay) {
    std::vector<std::unique_ptr<HttpPeer>> Silent;
    Lines List;
    for (int I = 0; I < 9; ++I) {
        Silent.push_back(
            std::make_unique<HttpPeer>(std::vector<HttpPeerReply>{HttpPeerReply{{}, HttpPeerEnd::Silent}}));
        List.push_back("127.0.0.1:" + std::to_string(Silent.back()->Port()));
    }
    Folder.WriteFile("qelto.ini", SettingsBytes({"http://127.0.0.1:9/a.html"}, List));
    auto Connections = [&] {
        size_t Count = 0;
        for (const auto& Peer : Silent) Count += Peer->Connections();
        return Count;
    };

    CliProcess Run({"--settings", SettingsPath(), "--jobs", "6", "--pause-max", "0"});
    const auto Deadline = std::chrono::steady_clock::now() + 30s;
    while (Connections() < 6 && std::chrono::steady_clock::now() < Deadline) std::this_thread::sleep_for(5ms);
    ASSERT_EQ(Connections(), 6u) << Run.Stdout();
    const auto Signalled = std::chrono::steady_clock::now();
    Run.Signal(SIGINT);
    EXPECT_EQ(Run.Finish(), 130) << Run.Stderr();
    EXPECT_LT(std::chrono::steady_clock::now() - Signalled, 5s);

    int Stopped = 0;
    for (const std::string& Out : Run.StdoutLines())
        if (std::regex_match(Out, ResultLine)) {
            EXPECT_NE(Out.find(" - stopped"), std::string::npos) << Out;
            ++Stopped;
        }
    EXPECT_EQ(Stopped, 6);
    EXPECT_NE(Run.Stdout().find("Stopped by SIGINT; the settings are saved in '" + SettingsPath() + "'"),
              std::string::npos);
    LoadedSettings Saved;
    Load(SettingsPath(), Saved);
    EXPECT_EQ(Saved.Problem, "");
    Lines Sorted = Saved.Proxies.Lines();
    std::sort(Sorted.begin(), Sorted.end());
    std::sort(List.begin(), List.end());
    EXPECT_EQ(Sorted, List);
    for (const auto& Peer : Silent) {
        if (Peer->Connections() > 0) {
            EXPECT_TRUE(Peer->WaitClientClosed(0));
        }
    }
}

// SIGKILL at random moments of a fast run (refused ports and working proxies, eight at a time, no
// pause): after each kill the file is whole, loads, holds every proxy once, and every mark in it is the
// one the run gives that proxy. Each run starts from what the last one left.
TEST_F(CliManyAtOnce, SigkillAtRandomMomentsLeavesAWholeFileOfTheRunsMarks) {
    ClosedPort Refused;
    std::vector<std::unique_ptr<HttpPeer>> Working;
    std::map<std::string, std::string> MarkOf; // proxy key -> its mark
    Lines List;
    for (int I = 0; I < 1500; ++I) {
        List.push_back("127.0." + std::to_string(1 + I / 250) + "." + std::to_string(1 + I % 250) + ":" +
                       std::to_string(Refused.Port()));
        MarkOf[List.back()] = FailureMark;
    }
    for (int I = 0; I < 8; ++I) {
        Working.push_back(std::make_unique<HttpPeer>(
            std::vector<HttpPeerReply>{OnePacket("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")}));
        List.push_back("127.0.0.1:" + std::to_string(Working.back()->Port()));
        MarkOf[List.back()] = SuccessMark;
    }
    Folder.WriteFile("qelto.ini", SettingsBytes({"http://127.0.0.1:9/a.html"}, List));

    std::mt19937 Rng(7);
    int Marked = 0;
    for (int Kill = 0; Kill < 12; ++Kill) {
        SCOPED_TRACE("kill " + std::to_string(Kill));
        CliProcess Run(
            {"--settings", SettingsPath(), "--jobs", "8", "--pause-max", "0", "--timeout", "3000"});
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + Rng() % 1400)); // the random moment
        Run.Signal(SIGKILL);
        Run.Finish();

        LoadedSettings Saved;
        Load(SettingsPath(), Saved);
        ASSERT_EQ(Saved.Problem, "");
        ASSERT_EQ(Saved.Targets.Lines(), Lines{"http://127.0.0.1:9/a.html"});
        std::set<std::string> Keys;
        Marked = 0;
        for (const std::string& Line : Saved.Proxies.Lines()) {
            const std::string Key = ProxyKey(Line);
            ASSERT_TRUE(MarkOf.count(Key)) << Line;
            EXPECT_TRUE(Keys.insert(Key).second) << "twice: " << Line;
            if (Line != Key) {
                EXPECT_EQ(Line, Key + MarkOf[Key]);
                ++Marked;
            }
        }
        EXPECT_EQ(Keys.size(), List.size());
    }
    // The runs got somewhere (the first second of a run is always saved within the next).
    EXPECT_GT(Marked, 0);
}

} // namespace
