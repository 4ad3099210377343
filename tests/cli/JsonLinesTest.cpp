// vindral-cli --format jsonl and --output, as a program over scripted loopback proxies: every line of
// stdout one JSON object with the result's fields, the texts in Unicode, a stop by SIGINT, and the file
// of the proxies that worked, written at the end of a run (a stopped one too) and only then.
#include "CliProcess.h"

#include "app/ProxyList.h"
#include "app/SettingsFile.h"
#include "platform/System.h"
#include "support/HttpPeer.h"
#include "support/LoopbackPorts.h"
#include "support/RealServers.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
using nlohmann::json;
using namespace std::chrono_literals;

enum class Peer { Working, Refused, Silent };

struct ProxyCase {
    Peer Kind;
    std::string Before; // what follows host:port in the list (Shift-JIS)
    std::string Mark;   // the mark the result names
    std::string After;  // the line as the result gives it, after host:port (UTF-8)
};

// One proxy of each outcome. The silent one is cut short by the stop and keeps its line, Japanese
// note and all; the refused one that worked before falls back.
const std::vector<ProxyCase> Table = {
    {Peer::Working, "", "ok", "(\u25CB)"},
    {Peer::Working, FailureMark, "ok", "(\u25CB)"},
    {Peer::Refused, "", "fail", "(\u00D7)"},
    {Peer::Refused, SuccessMark, "fallback", "(\u25B3)"},
    {Peer::Silent, "(\x83\x41\x83\x8A \x91\xAC\x82\xA2)", "stopped", "(\u30A2\u30EA \u901F\u3044)"},
};

std::string SettingsBytes(const Lines& Proxies) {
    // The proxies are asked for the page; its origin is never contacted.
    std::string Bytes = "1\nhttp://127.0.0.1:9/a.html\nEdit1\n100\n" + std::to_string(Proxies.size()) + "\n";
    for (const std::string& Proxy : Proxies) Bytes += Proxy + "\n";
    return Bytes;
}

// The proxy lines of a saved settings file, in UTF-8.
Lines SavedProxies(const std::string& FileName) {
    const Lines All = SplitSettingsLines(ReadWholeFile(FileName));
    const size_t Targets = std::stoul(All.at(0));
    Lines Proxies;
    for (size_t I = Targets + 4; I < All.size(); ++I) Proxies.push_back(platform::SjisToUtf8(All[I]));
    return Proxies;
}

// Loopback peers for a table of proxies, each with its list line.
class Peers {
public:
    explicit Peers(const std::vector<ProxyCase>& Cases) {
        for (const ProxyCase& Case : Cases) {
            uint16_t Port = 0;
            if (Case.Kind == Peer::Refused) {
                FRefused.push_back(std::make_unique<ClosedPort>());
                Port = FRefused.back()->Port();
            } else {
                FPeers.push_back(std::make_unique<HttpPeer>(std::vector<HttpPeerReply>{
                    Case.Kind == Peer::Working ? OnePacket("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")
                                               : HttpPeerReply{{}, HttpPeerEnd::Silent}}));
                Port = FPeers.back()->Port();
                if (Case.Kind == Peer::Silent) FSilent.push_back(FPeers.back().get());
            }
            Ports.push_back(Port);
            List.push_back("127.0.0.1:" + std::to_string(Port) + Case.Before);
        }
    }

    // Waits until every silent peer has been connected to.
    bool SilentOnesReached() const {
        const auto Deadline = std::chrono::steady_clock::now() + 30s;
        for (HttpPeer* Silent : FSilent) {
            while (Silent->Connections() == 0) {
                if (std::chrono::steady_clock::now() > Deadline) return false;
                std::this_thread::sleep_for(5ms);
            }
        }
        return true;
    }

    std::vector<uint16_t> Ports;
    Lines List;

private:
    std::vector<std::unique_ptr<HttpPeer>> FPeers;
    std::vector<std::unique_ptr<ClosedPort>> FRefused;
    std::vector<HttpPeer*> FSilent;
};

// Every proxy at once; the working and refused ones finish, the silent one waits until SIGINT stops it.
TEST(CliJsonLines, OneObjectPerProxyAndNothingElseOnStdout) {
    TempFolder Folder;
    const Peers Proxies(Table);
    const std::string Settings = Folder.WriteFile("qelto.ini", SettingsBytes(Proxies.List));
    const std::string Working = Folder.WriteFile("working.txt", "from an earlier run\n");

    CliProcess Run({"--settings", Settings, "--format", "jsonl", "--output", Working, "--jobs", "5",
                    "--pause-max", "0"});
    for (size_t I = 0; I < Table.size(); ++I) {
        if (Table[I].Kind == Peer::Silent) continue;
        ASSERT_TRUE(Run.WaitForLine("\"port\":" + std::to_string(Proxies.Ports[I]) + ","))
            << Run.Stdout() << Run.Stderr();
    }
    ASSERT_TRUE(Proxies.SilentOnesReached());
    Run.Signal(SIGINT);
    ASSERT_EQ(Run.Finish(), 130) << Run.Stderr();
    EXPECT_EQ(Run.Stderr(), "vindral-cli: Stopped by SIGINT; the settings are saved in '" + Settings + "'\n");

    // Plain ASCII: every other character is escaped by the library.
    for (const char Byte : Run.Stdout()) ASSERT_LT(static_cast<unsigned char>(Byte), 0x80) << Run.Stdout();
    std::map<int, json> ByPort;
    std::set<int> Positions;
    for (const std::string& Line : Run.StdoutLines()) {
        const json Object = json::parse(Line, nullptr, false);
        ASSERT_TRUE(Object.is_object()) << Line;
        std::set<std::string> Keys;
        for (const auto& [Key, Value] : Object.items()) Keys.insert(Key);
        EXPECT_EQ(Keys, (std::set<std::string>{"position", "count", "line", "host", "port", "mark",
                                               "milliseconds", "reason"}));
        EXPECT_EQ(Object["count"], Table.size());
        EXPECT_TRUE(Object["milliseconds"].is_number_integer() && Object["milliseconds"] >= 0) << Line;
        EXPECT_EQ(Object["host"], "127.0.0.1");
        Positions.insert(Object["position"].get<int>());
        ByPort[Object["port"].get<int>()] = Object;
    }
    EXPECT_EQ(Positions, (std::set<int>{1, 2, 3, 4, 5}));
    ASSERT_EQ(ByPort.size(), Table.size()) << Run.Stdout();

    const Lines Saved = SavedProxies(Settings);
    Lines Ok;
    for (size_t I = 0; I < Table.size(); ++I) {
        const json& Object = ByPort[Proxies.Ports[I]];
        const std::string Proxy = "127.0.0.1:" + std::to_string(Proxies.Ports[I]);
        EXPECT_EQ(Object["mark"], Table[I].Mark) << Object;
        EXPECT_EQ(Object["line"], Proxy + Table[I].After) << Object;
        // The position is where the line stands in the list as it was saved.
        EXPECT_EQ(Saved.at(Object["position"].get<size_t>() - 1), Proxy + Table[I].After) << Object;
        if (Table[I].Mark == "ok") {
            EXPECT_TRUE(Object["reason"].is_null()) << Object;
        } else if (Table[I].Mark != "stopped") {
            EXPECT_TRUE(Object["reason"].is_string() && !Object["reason"].empty()) << Object;
        }
    }
    // The stopped run wrote the file too: the two that worked, in the order of the list.
    for (const std::string& Line : Saved)
        if (Line.ends_with("(\u25CB)")) Ok.push_back(ProxyKey(Line));
    ASSERT_EQ(Ok.size(), 2u);
    EXPECT_EQ(ReadWholeFile(Working), Ok[0] + "\n" + Ok[1] + "\n");
}

struct OutputCase {
    const char* Name;
    std::vector<ProxyCase> Proxies;
    Lines Extra;     // further list lines, "PORTn" standing for the port of proxy n
    size_t Expected; // lines of the file
};

void PrintTo(const OutputCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class CliOutputFile : public ::testing::TestWithParam<OutputCase> {};

// A whole run: the file holds exactly the proxies marked (○), each once, in the order of the list, and
// replaces what the file held.
TEST_P(CliOutputFile, HoldsExactlyTheProxiesThatWorked) {
    const OutputCase& Case = GetParam();
    TempFolder Folder;
    Peers Proxies(Case.Proxies);
    for (std::string Line : Case.Extra) {
        for (size_t I = 0; I < Proxies.Ports.size(); ++I)
            if (const size_t At = Line.find("PORT" + std::to_string(I)); At != std::string::npos)
                Line.replace(At, 5, std::to_string(Proxies.Ports[I]));
        Proxies.List.push_back(Line);
    }
    const std::string Settings = Folder.WriteFile("qelto.ini", SettingsBytes(Proxies.List));
    const std::string Working = Folder.WriteFile("working.txt", "127.0.0.1:1\n");

    CliProcess Run({"--settings", Settings, "--output", Working, "--jobs", "3", "--pause-max", "0"});
    ASSERT_EQ(Run.Finish(), 0) << Run.Stderr();
    EXPECT_EQ(Run.Stderr(), "");

    std::string Expected;
    std::set<std::string> Seen;
    for (const std::string& Line : SavedProxies(Settings)) {
        const std::string Proxy = ProxyKey(Line);
        if (Line.ends_with("(\u25CB)") && Seen.insert(Proxy).second) Expected += Proxy + "\n";
    }
    EXPECT_EQ(Seen.size(), Case.Expected);
    EXPECT_EQ(ReadWholeFile(Working), Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, CliOutputFile,
    ::testing::Values(
        OutputCase{"SomeWork",
                   {{Peer::Working, "", "", ""},
                    {Peer::Refused, "", "", ""},
                    {Peer::Working, SuccessMark, "", ""},
                    {Peer::Refused, SuccessMark, "", ""}},
                   {},
                   2},
        OutputCase{"NoneWorks", {{Peer::Refused, "", "", ""}, {Peer::Refused, FailureMark, "", ""}}, {}, 0},
        // Two spellings of one port are two lines of the list but one proxy once rewritten.
        OutputCase{"OneProxyTwoSpellings", {{Peer::Working, "", "", ""}}, {"127.0.0.1:0PORT0"}, 1}),
    [](const ::testing::TestParamInfo<OutputCase>& Info) { return std::string(Info.param.Name); });

} // namespace
