// The progress line of a run on a terminal: its text for a given state of the run and width of the
// terminal, and the program drawing it on a pseudo-terminal, redrawn in place and cleared at the end,
// while nothing of it appears where stderr is not a terminal.
#include "CliProcess.h"

#include "cli/TRunProgress.h"
#include "support/RealServers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

struct ProgressCase {
    const char* Name;
    int Total;
    int Ok, Was, Fail, Stopped, UnderWay;
    std::chrono::milliseconds Elapsed;
    size_t Columns;
    std::string Text;
};

void PrintTo(const ProgressCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class RunProgressText : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(RunProgressText, TellsWhereTheRunStandsWithinTheWidth) {
    const ProgressCase& Case = GetParam();
    const TRunProgress::TTime Start{std::chrono::hours(1)};
    TRunProgress Progress;
    Progress.Begin(Case.Total, Start);
    for (auto [Count, Mark] :
         {std::pair{Case.Ok, TProxyMark::Success}, std::pair{Case.Was, TProxyMark::Fallback},
          std::pair{Case.Fail, TProxyMark::Failure}, std::pair{Case.Stopped, TProxyMark::None}})
        for (int I = 0; I < Count; ++I) {
            Progress.Started();
            Progress.Finished(Mark);
        }
    for (int I = 0; I < Case.UnderWay; ++I) Progress.Started();
    EXPECT_EQ(Progress.Text(Start + Case.Elapsed, Case.Columns), Case.Text);
}

INSTANTIATE_TEST_SUITE_P(
    States, RunProgressText,
    ::testing::Values(
        // No rate nor time left before the first proxy is done.
        ProgressCase{"FirstVisit", 3, 0, 0, 0, 0, 1, 0ms, 80,
                     "0/3 done (\u25CB 0, \u25B3 0, \u00D7 0), 1 under way"},
        ProgressCase{"Midway", 120, 5, 2, 30, 0, 8, 12s, 200,
                     "37/120 done (\u25CB 5, \u25B3 2, \u00D7 30), 8 under way, 3.1/s, 27s left"},
        ProgressCase{"MinutesLeft", 1000, 0, 0, 100, 0, 1, 50s, 200,
                     "100/1000 done (\u25CB 0, \u25B3 0, \u00D7 100), 1 under way, 2.0/s, 7m30s left"},
        ProgressCase{"HoursLeft", 100000, 5, 0, 995, 0, 50, 100s, 200,
                     "1000/100000 done (\u25CB 5, \u25B3 0, \u00D7 995), 50 under way, 10/s, 2h45m left"},
        // A stopped visit is done without a mark; nothing is left once all are done.
        ProgressCase{"AllDone", 4, 2, 1, 0, 1, 0, 2s, 80,
                     "4/4 done (\u25CB 2, \u25B3 1, \u00D7 0), 0 under way, 2.0/s"},
        // The parts at the end go first, whole, and the last column stays free; the marks take two
        // columns each.
        ProgressCase{"NarrowDropsTrailingParts", 120, 5, 2, 30, 0, 8, 12s, 45,
                     "37/120 done (\u25CB 5, \u25B3 2, \u00D7 30), 8 under way"},
        ProgressCase{"NarrowerKeepsTheCounts", 120, 5, 2, 30, 0, 8, 12s, 44,
                     "37/120 done (\u25CB 5, \u25B3 2, \u00D7 30)"},
        // Counts that do not fit are cut at a whole character.
        ProgressCase{"CutBeforeAWideMark", 120, 5, 2, 30, 0, 8, 12s, 15, "37/120 done ("},
        ProgressCase{"CutAfterAWideMark", 120, 5, 2, 30, 0, 8, 12s, 16, "37/120 done (\u25CB"},
        ProgressCase{"NoRoom", 3, 0, 0, 0, 0, 1, 0ms, 1, ""}),
    [](const ::testing::TestParamInfo<ProgressCase>& Info) { return std::string(Info.param.Name); });

TEST(RunProgress, NothingToShowBeforeTheFirstVisit) {
    TRunProgress Progress;
    EXPECT_EQ(Progress.Text(TRunProgress::TTime{}, 80), "");
}

// A settings file whose proxies all succeed without a request (no targets), one after another with
// pauses between them, so the line is drawn several times.
std::string SettingsWithoutTargets(const Lines& Proxies) {
    std::string Bytes = "0\nEdit1\n100\n" + std::to_string(Proxies.size()) + "\n";
    for (const std::string& Proxy : Proxies) Bytes += Proxy + "\n";
    return Bytes;
}

// The texts drawn on a terminal: each draw is a carriage return, the text and an erase to the end of
// the line; a clearing is the same without a text. Fails the test at bytes of any other shape.
Lines Frames(const std::string& Terminal) {
    Lines Texts;
    const std::string Erase = "\x1b[K";
    size_t At = 0;
    while (At < Terminal.size()) {
        const size_t End = Terminal.find(Erase, At);
        if (Terminal[At] != '\r' || End == std::string::npos) {
            ADD_FAILURE() << "not a redrawn line at " << At << ": " << Terminal.substr(At);
            break;
        }
        Texts.push_back(Terminal.substr(At + 1, End - At - 1));
        At = End + Erase.size();
    }
    return Texts;
}

const std::regex
    FrameText(R"(^(\d+)/3 done \(○ (\d+), △ 0, × 0\), (\d+) under way(, [0-9.]+/s(, \S+ left)?)?$)");

struct TerminalCase {
    const char* Name;
    CliProcess::Output Stdout;
    CliProcess::Output Stderr;
};

void PrintTo(const TerminalCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class ProgressLineOutputs : public ::testing::TestWithParam<TerminalCase> {};

// Drawn only where stderr is a terminal, and then only in place: every draw overwrites the last, the
// counts only grow, and the last thing on the terminal is the line cleared. The result lines stay as
// they are whatever stderr is.
TEST_P(ProgressLineOutputs, OnlyOnATerminalAndClearedAtTheEnd) {
    const TerminalCase& Case = GetParam();
    TempFolder Folder;
    Folder.WriteFile("qelto.ini", SettingsWithoutTargets({"127.0.0.1:1", "127.0.0.1:2", "127.0.0.1:3"}));
    CliProcess Run({"--settings", Folder.Path() + "/qelto.ini", "--pause-max", "600"}, Case.Stdout,
                   VINDRAL_CLI_PROGRAM, Case.Stderr);
    ASSERT_EQ(Run.Finish(), 0) << Run.Stderr();

    const Lines Out = Run.StdoutLines();
    ASSERT_EQ(Out.size(), 7u) << Run.Stdout();
    EXPECT_EQ(Run.Stdout().find("\x1b[K"), std::string::npos) << Run.Stdout();
    EXPECT_EQ(Run.Stdout().find(" under way"), std::string::npos) << Run.Stdout();
    if (Case.Stderr == CliProcess::Output::Pipe) {
        EXPECT_EQ(Run.Stderr(), "");
        return;
    }
    const Lines Texts = Frames(Run.Stderr());
    ASSERT_GE(Texts.size(), 2u) << Run.Stderr();
    EXPECT_EQ(Texts.front(), "0/3 done (\u25CB 0, \u25B3 0, \u00D7 0), 1 under way");
    EXPECT_EQ(Texts.back(), ""); // cleared
    int Done = 0;
    for (const std::string& Text : Texts) {
        if (Text.empty()) continue;
        std::smatch Match;
        ASSERT_TRUE(std::regex_match(Text, Match, FrameText)) << Text;
        EXPECT_GE(std::stoi(Match[1]), Done) << Text;
        Done = std::stoi(Match[1]);
        EXPECT_EQ(Match[2], Match[1]) << Text; // every visit succeeds
        EXPECT_LE(std::stoi(Match[3]), 1) << Text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, ProgressLineOutputs,
    ::testing::Values(
        TerminalCase{"StderrOnATerminal", CliProcess::Output::Pipe, CliProcess::Output::Terminal},
        TerminalCase{"StdoutOnATerminalOnly", CliProcess::Output::Terminal, CliProcess::Output::Pipe},
        TerminalCase{"BothPiped", CliProcess::Output::Pipe, CliProcess::Output::Pipe}),
    [](const ::testing::TestParamInfo<TerminalCase>& Info) { return std::string(Info.param.Name); });

} // namespace
