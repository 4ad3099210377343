// The run behind Start, with scripted visits: marks, the Max rule, status texts, pauses and saves, and
// the stop request with the close it serves.
#include "app/ProxyList.h"

#include "AppFixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

const std::string Ok = SuccessMark;
const std::string Was = FallbackMark;
const std::string Bad = FailureMark;

// Pause lengths of a run whose preparation drew Shuffled times and whose (scripted) visits draw nothing.
int PauseAfter(int Shuffled, int Nth) {
    return ReferenceDraws(Shuffled + Nth + 1)[Shuffled + Nth] % 15000;
}

TScriptedForm::TVisitScript Always(int Result) {
    return [Result](TScriptedForm&, const std::string&, int32_t) { return Result; };
}

struct MarkCase {
    std::string Before;
    int Outcome;
    std::string Visited; // host:port the visit was given
    std::string After;
};

class RunMarks : public FormFixture, public ::testing::WithParamInterface<MarkCase> {};

TEST_P(RunMarks, RewriteTheLineFromHostPortAndOutcome) {
    const MarkCase& Case = GetParam();
    Memo1.SetLines({Case.Before});
    Form.Visit = Always(Case.Outcome);
    Form.Button1Click(&Form);
    EXPECT_EQ(Count("visit " + Case.Visited), 1);
    EXPECT_EQ(Memo1.Lines(), Lines{Case.After});
}

INSTANTIATE_TEST_SUITE_P(
    PreviousMarkAndOutcome, RunMarks,
    ::testing::Values(MarkCase{"10.1.1.1:8080", 1, "10.1.1.1:8080", "10.1.1.1:8080" + Ok},
                      MarkCase{"10.1.1.1:8080", 0, "10.1.1.1:8080", "10.1.1.1:8080" + Bad},
                      MarkCase{"10.1.1.1:8080" + Ok, 1, "10.1.1.1:8080", "10.1.1.1:8080" + Ok},
                      MarkCase{"10.1.1.1:8080" + Ok, 0, "10.1.1.1:8080", "10.1.1.1:8080" + Was},
                      MarkCase{"10.1.1.1:8080" + Was, 1, "10.1.1.1:8080", "10.1.1.1:8080" + Ok},
                      MarkCase{"10.1.1.1:8080" + Was, 0, "10.1.1.1:8080", "10.1.1.1:8080" + Was},
                      MarkCase{"10.1.1.1:8080" + Bad, 1, "10.1.1.1:8080", "10.1.1.1:8080" + Ok},
                      MarkCase{"10.1.1.1:8080" + Bad, 0, "10.1.1.1:8080", "10.1.1.1:8080" + Bad}));

// How the line is cut into host and port, and rebuilt from them.
INSTANTIATE_TEST_SUITE_P(
    LineShapes, RunMarks,
    ::testing::Values(MarkCase{"  10.1.1.1:0080\t", 1, "10.1.1.1:80", "10.1.1.1:80" + Ok},
                      // The port text is not trimmed: a blank before the mark gives port 0.
                      MarkCase{"10.1.1.1:8080 (\x81\x7E)", 0, "10.1.1.1:0", "10.1.1.1:0" + Bad},
                      MarkCase{"localhost", 0, ":0", ":0" + Bad}, MarkCase{"8080", 1, ":8080", ":8080" + Ok},
                      MarkCase{":", 0, ":0", ":0" + Bad},
                      MarkCase{"proxy:3128:1", 0, "proxy:0", "proxy:0" + Bad},
                      MarkCase{"proxy:$50", 1, "proxy:80", "proxy:80" + Ok},
                      MarkCase{"proxy:-1", 0, "proxy:-1", "proxy:-1" + Bad},
                      MarkCase{Bad, 0, ":0", ":0" + Bad},
                      // Read whole, however long.
                      MarkCase{std::string(5000, 'h') + ":8080" + Ok, 0, std::string(5000, 'h') + ":8080",
                               std::string(5000, 'h') + ":8080" + Was},
                      // The earlier-result test looks at the whole line, mark or not.
                      MarkCase{"a:1 \x81\x9B note (x)", 0, "a:0", "a:0" + Was}));

struct MaxCase {
    std::string Typed;
    int Visits;
    int PausesAndSaves;
    std::string Shown; // Edit2 after the run
};

class RunMax : public FormFixture, public ::testing::WithParamInterface<MaxCase> {};

// Ten proxies that all succeed: the Max-th success of the run ends it at once, without its pause and
// save.
TEST_P(RunMax, EndsTheRunWithTheMaxthSuccess) {
    const MaxCase& Case = GetParam();
    Lines Proxies;
    for (int I = 1; I <= 10; ++I) Proxies.push_back("p" + std::to_string(I) + ":" + std::to_string(I));
    Memo1.SetLines(Proxies);
    Edit2.SetText(Case.Typed);
    Form.Visit = Always(1);
    Form.Button1Click(&Form);

    EXPECT_EQ(CountStarting("visit "), Case.Visits);
    EXPECT_EQ(CountStarting("pause "), Case.PausesAndSaves);
    EXPECT_EQ(Count("save"), Case.PausesAndSaves);
    EXPECT_EQ(Log.back(), "status ");
    EXPECT_EQ(Edit2.Text(), Case.Shown);
    if (Case.PausesAndSaves == 0) {
        EXPECT_FALSE(fs::exists(SettingsPath()));
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, RunMax,
                         ::testing::Values(MaxCase{"0", 1, 0, "0"}, MaxCase{"1", 1, 0, "1"},
                                           MaxCase{"2", 2, 1, "2"}, MaxCase{"7", 7, 6, "7"},
                                           // Passes the trimmed check, but reads as 20 untrimmed: all ten.
                                           MaxCase{"7 ", 10, 10, "7 "}, MaxCase{"7\t", 10, 10, "7\t"},
                                           MaxCase{"abc", 10, 10, "20"}, MaxCase{"-4", 10, 10, "20"},
                                           MaxCase{"", 10, 10, "20"}));

TEST_F(RunMax, ReadsMaxAfreshAfterEachSuccess) {
    Memo1.SetLines({"p1:1", "p2:2", "p3:3"});
    Form.Visit = [this](TScriptedForm&, const std::string&, int32_t) {
        if (CountStarting("visit ") == 2) Edit2.SetText("-1"); // typed during the second visit
        return 1;
    };
    Form.Button1Click(&Form);
    EXPECT_EQ(CountStarting("visit "), 2);
    EXPECT_EQ(Edit2.Text(), "-1");
}

TEST_F(FormFixture, RunWithoutSuccessVisitsPausesAndSavesEveryLineInOrder) {
    Memo1.SetLines({"a:1", "b:2", "c:3"}); // 18 shuffle draws leave this order
    Form.Visit = Always(0);
    Form.Button1Click(&Form);

    EXPECT_EQ(Log,
              (Lines{"status Shaking.", "status Get 1:a:1", "visit a:1",
                     "pause " + std::to_string(PauseAfter(18, 0)), "save", "status Get 2:b:2", "visit b:2",
                     "pause " + std::to_string(PauseAfter(18, 1)), "save", "status Get 3:c:3", "visit c:3",
                     "pause " + std::to_string(PauseAfter(18, 2)), "save", "status "}));
    EXPECT_EQ(Memo1.Lines(), (Lines{"a:1" + Bad, "b:2" + Bad, "c:3" + Bad}));
    // The last save holds the last mark.
    EXPECT_EQ(ReadFileBytes(SettingsPath()),
              "0\r\nEdit1\r\n100\r\n3\r\na:1" + Bad + "\r\nb:2" + Bad + "\r\nc:3" + Bad + "\r\n");
}

TEST_F(FormFixture, RunShowsTheTrimmedLineWithItsMarkAndSkipsAnEmptyLine) {
    Memo1.SetLines({" \t "});
    Form.Button1Click(&Form);
    EXPECT_EQ(Log, (Lines{"status Shaking.", "status Get 1:", "pause " + std::to_string(PauseAfter(6, 0)),
                          "save", "status "}));
    EXPECT_EQ(Memo1.Lines(), Lines{" \t "});

    Log.clear();
    ResetRandomGenerator();
    Memo1.SetLines({" 10.1.1.1:8080" + Was + " "});
    Form.Visit = Always(0);
    Form.Button1Click(&Form);
    EXPECT_EQ(Log.at(1), "status Get 1:10.1.1.1:8080" + Was);
}

// The pause's draw is taken even when no hook runs it, so a host without pauses sees the same draws.
TEST_F(FormFixture, RunDrawsEachPauseWithoutAHook) {
    Memo1.SetLines({"a:1", "b:2", "c:3"});
    Form.Visit = Always(0);
    Form.PauseHook = nullptr;
    Form.Button1Click(&Form);
    EXPECT_EQ(CountStarting("pause "), 0);
    EXPECT_EQ(Count("save"), 3);
    EXPECT_EQ(Rand(), ReferenceDraws(22)[21]);
}

TEST_F(FormFixture, RunOverAnEmptyListOnlyShakes) {
    Memo1.Clear();
    Form.Button1Click(&Form);
    EXPECT_EQ(Log, (Lines{"status Shaking.", "status "}));
    EXPECT_EQ(Rand(), ReferenceDraws(1)[0]);
}

// The form's own visit, over an empty target list (no request, a success): after a fresh start the
// one-line shuffle takes six draws, the visit the seventh (6415, row 1) and the pause the eighth.
TEST_F(FormFixture, FirstRunOverOneLineVisitsWithRowOneAndPauses7948) {
    Memo1.SetLines({"127.0.0.1:3128"});
    Memo2.Clear();
    Edit1.SetText(" http://from.example/ ");
    Form.Button1Click(&Form);

    EXPECT_EQ(Log, (Lines{"status Shaking.", "status Get 1:127.0.0.1:3128", "visit 127.0.0.1:3128",
                          "pause 7948", "save", "status "}));
    EXPECT_EQ(Memo1.Lines(), Lines{"127.0.0.1:3128" + Ok});
    TVexHTTP& Http = *Form.VexHTTP1;
    EXPECT_EQ(Http.HeaderInfo->LocalProgram, "Mozilla/4.78 [ja] (Windows NT 5.0; U) ");
    EXPECT_EQ(Http.HeaderInfo->Referer, ""); // set from From only before a request
    EXPECT_EQ(Http.Host, "");
    EXPECT_EQ(Http.Port, 80);
    EXPECT_EQ(Http.Proxy, "127.0.0.1");
    EXPECT_EQ(Http.ProxyPort, 3128);
    EXPECT_EQ(Http.TimeOut, 30000);
    EXPECT_TRUE(Http.InputFileMode);
    EXPECT_FALSE(Http.OutputFileMode);
    // "temp.html" in the run's own folder beside the settings file, which went with the run.
    const fs::path Body(Http.Body);
    EXPECT_EQ(Body.filename(), "temp.html");
    EXPECT_EQ(Body.parent_path().parent_path().string() + "/", Folder.Path());
    EXPECT_EQ(Body.parent_path().filename().string().rfind(".vindral-scratch-", 0), 0u);
    EXPECT_FALSE(fs::exists(Body.parent_path()));
    EXPECT_EQ(Http.Header, "Head.txt");
    EXPECT_EQ(Http.ReportLevel, 0);
}

TEST_F(FormFixture, RunReportsEachVisitedLine) {
    Memo1.SetLines({"a:1", "b:2" + Ok, "", "c:3"});
    // Each visit takes a time of its own on the form's clock.
    auto Now = std::chrono::steady_clock::time_point();
    Form.Clock = [&Now] { return Now; };
    std::map<std::string, int> Took = {{"a", 1250}, {"b", 30000}, {"c", 7}};
    Form.Visit = [&](TScriptedForm& Self, const std::string& Host, int32_t) {
        Now += std::chrono::milliseconds(Took[Host]);
        if (Host == "b") return 1;
        Self.LastVisitError = "Connection Failed";
        return 0;
    };
    std::vector<TVisitResult> Results;
    Lines Events;
    Form.OnVisitStart = [&](TForm1*, int Index) { Events.push_back("start " + std::to_string(Index)); };
    Form.OnVisitResult = [&](TForm1*, const TVisitResult& Result) {
        Results.push_back(Result);
        Events.push_back("result " + std::to_string(Result.Index));
    };
    Form.Button1Click(&Form);

    ASSERT_EQ(Results.size(), 3u); // the empty line is not visited
    // Each visit begins before its result, the next one only after it.
    ASSERT_EQ(Events.size(), 6u);
    for (size_t I = 0; I < 3; ++I) {
        EXPECT_EQ(Events[2 * I], "start " + std::to_string(Results[I].Index));
        EXPECT_EQ(Events[2 * I + 1], "result " + std::to_string(Results[I].Index));
    }
    for (const TVisitResult& Result : Results) {
        EXPECT_EQ(Result.Count, 4);
        EXPECT_EQ(Result.Line, Memo1.Line(Result.Index));
        EXPECT_EQ(Result.Milliseconds, Took[Result.Line.substr(0, 1)]) << Result.Line;
        if (Result.Line == "b:2" + Ok) {
            EXPECT_EQ(Result.Mark, TProxyMark::Success);
            EXPECT_EQ(Result.Failure, "");
        } else {
            EXPECT_EQ(Result.Mark, TProxyMark::Failure);
            EXPECT_EQ(Result.Failure, "Connection Failed");
        }
    }
    EXPECT_EQ(Results[0].Index, 0); // promoted to the top
}

// An exception that escapes the loop ends the run where it stands; the next Start runs again.
TEST_F(FormFixture, RunEndedByAnExceptionCanBeStartedAgain) {
    Memo1.SetLines({"a:1"});
    Form.Visit = [](TScriptedForm&, const std::string&, int32_t) -> int {
        throw std::runtime_error("broken");
    };
    EXPECT_THROW(Form.Button1Click(&Form), std::runtime_error);
    EXPECT_FALSE(Form.Running());
    EXPECT_EQ(StatusBar1.SimpleText(), "Get 1:a:1");

    Form.Visit = Always(1);
    Form.Button1Click(&Form);
    EXPECT_EQ(Memo1.Lines(), Lines{"a:1" + Ok});
}

class RunStop : public FormFixture {
protected:
    RunStop() {
        Memo1.SetLines({"a:1", "b:2", "c:3"}); // the shuffle leaves this order
        Form.OnVisitResult = [this](TForm1*, const TVisitResult& Result) { Results.push_back(Result); };
    }
    std::vector<TVisitResult> Results;
};

// A stop during the second visit aborts its request, leaves its line as it was, ends the run without
// the pause and saves.
TEST_F(RunStop, DuringAVisitLeavesThatLineUnmarkedAndSaves) {
    Form.Visit = [](TScriptedForm& Self, const std::string& Host, int32_t) {
        if (Host != "b") return 1;
        EXPECT_TRUE(Self.Running());
        Self.RequestStop();
        EXPECT_TRUE(Self.StopRequested());
        EXPECT_TRUE(Self.VexHTTP1->CancelRequested); // the request in progress is aborted
        Self.LastVisitError = "Socket capture aborted";
        return 0;
    };
    Form.Button1Click(&Form);

    EXPECT_EQ(Log, (Lines{"status Shaking.", "status Get 1:a:1", "visit a:1",
                          "pause " + std::to_string(PauseAfter(18, 0)), "save", "status Get 2:b:2",
                          "visit b:2", "save", "status "}));
    EXPECT_EQ(Memo1.Lines(), (Lines{"a:1" + Ok, "b:2", "c:3"}));
    EXPECT_EQ(ReadFileBytes(SettingsPath()), "0\r\nEdit1\r\n100\r\n3\r\na:1" + Ok + "\r\nb:2\r\nc:3\r\n");
    EXPECT_FALSE(Form.Running());
    EXPECT_FALSE(Form.StopRequested());
    ASSERT_EQ(Results.size(), 2u);
    EXPECT_EQ(Results[1].Mark, TProxyMark::None);
    EXPECT_EQ(Results[1].Line, "b:2");
    EXPECT_EQ(Results[1].Failure, "Socket capture aborted");
}

TEST_F(RunStop, OfALineThatHadAMarkKeepsTheOldMark) {
    Memo1.SetLines({"a:1" + Ok});
    Form.Visit = [](TScriptedForm& Self, const std::string&, int32_t) {
        Self.RequestStop();
        return 0;
    };
    Form.Button1Click(&Form);
    EXPECT_EQ(Memo1.Lines(), Lines{"a:1" + Ok});
    EXPECT_EQ(Count("save"), 1);
}

TEST_F(RunStop, DuringThePauseEndsTheRunAfterItsSave) {
    Form.Visit = Always(0);
    Form.PauseHook = [this](int Milliseconds) {
        Log.push_back("pause " + std::to_string(Milliseconds));
        Form.RequestStop();
    };
    Form.Button1Click(&Form);
    EXPECT_EQ(Log, (Lines{"status Shaking.", "status Get 1:a:1", "visit a:1",
                          "pause " + std::to_string(PauseAfter(18, 0)), "save", "status "}));
    EXPECT_EQ(Memo1.Lines(), (Lines{"a:1" + Bad, "b:2", "c:3"}));
    // No request was in progress, so none was aborted.
    EXPECT_FALSE(Form.VexHTTP1->CancelRequested);
}

TEST_F(RunStop, StartDuringARunIsIgnored) {
    Form.Visit = [](TScriptedForm& Self, const std::string&, int32_t) {
        Self.Button1Click(&Self);
        return 0;
    };
    Form.Button1Click(&Form);
    EXPECT_EQ(Count("status Shaking."), 1);
    EXPECT_EQ(CountStarting("visit "), 3);
}

TEST_F(RunStop, RequestWhileIdleChangesNothing) {
    Form.RequestStop();
    EXPECT_FALSE(Form.StopRequested());
    Form.Visit = Always(0);
    Form.Button1Click(&Form);
    EXPECT_EQ(CountStarting("visit "), 3);
}

// A close during a run stops it; the window is told to close once the run has unwound and saved.
TEST_F(RunStop, CloseDuringARunClosesAfterTheRunHasSaved) {
    TCloseAction Action = TCloseAction::Close;
    Form.Visit = [&](TScriptedForm& Self, const std::string& Host, int32_t) {
        if (Host == "b") Action = Self.FormClose(&Self);
        return 1;
    };
    int Closes = 0;
    Form.OnDeferredClose = [&](TComponent* Sender) {
        ++Closes;
        EXPECT_EQ(Sender, &Form);
        EXPECT_FALSE(Form.Running());
        EXPECT_EQ(Log.back(), "status ");
        EXPECT_EQ(ReadFileBytes(SettingsPath()), "0\r\nEdit1\r\n100\r\n3\r\na:1" + Ok + "\r\nb:2\r\nc:3\r\n");
    };
    Form.Button1Click(&Form);

    EXPECT_EQ(Action, TCloseAction::Later);
    EXPECT_EQ(Closes, 1);
    EXPECT_EQ(CountStarting("visit "), 2);
    // The window's second close finds no run: it saves and closes.
    EXPECT_EQ(Form.FormClose(&Form), TCloseAction::Close);
    EXPECT_EQ(Count("save"), 3);

    // A later run that nobody closes fires nothing.
    Form.Visit = Always(0);
    Form.Button1Click(&Form);
    EXPECT_EQ(Closes, 1);
}

TEST_F(FormFixture, CloseWhenIdleSavesAndCloses) {
    Form.FormShow(&Form);
    EXPECT_EQ(Form.FormClose(&Form), TCloseAction::Close);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), "0\r\nEdit1\r\n100\r\n0\r\n");
}

} // namespace
