// Saves that keep up with a fast run: a save at once when the last one is an interval old, the rest
// gathered into one save when that interval ends, and everything that waits saved by the end of a run,
// a stop or a close.
#include "app/ProxyList.h"
#include "app/TSaveThrottle.h"
#include "platform/Windows.h"

#include "AppFixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using TTime = std::chrono::steady_clock::time_point;

// A throttle on a clock the test moves, counting its saves.
class Throttle : public ::testing::Test {
protected:
    TTime Now = TTime() + 100h;
    std::function<TTime()> Clock = [this] { return Now; };
    std::chrono::milliseconds Interval = 1000ms;
    int Saves = 0;
    TSaveThrottle Saver{[this] { ++Saves; }, Clock, Interval};
};

TEST_F(Throttle, SavesAtOnceWhenTheLastSaveIsAnIntervalOldAndGathersTheRest) {
    Saver.Changed(); // nothing saved yet: at once
    EXPECT_EQ(Saves, 1);
    Now += 400ms;
    Saver.Changed();
    Now += 599ms;
    Saver.Changed();
    EXPECT_EQ(Saves, 1);
    EXPECT_TRUE(Saver.Pending());
    Now += 1ms; // the interval since the last save has ended: this change saves the gathered ones too
    Saver.Changed();
    EXPECT_EQ(Saves, 2);
    EXPECT_FALSE(Saver.Pending());
}

TEST_F(Throttle, FlushSavesOnlyWhatWaitsAndSaveNowSavesAlways) {
    Saver.Flush();
    EXPECT_EQ(Saves, 0);
    Saver.Changed();
    Saver.Changed();
    EXPECT_EQ(Saves, 1);
    Saver.Flush();
    EXPECT_EQ(Saves, 2);
    Saver.Flush();
    EXPECT_EQ(Saves, 2);
    Saver.SaveNow();
    EXPECT_EQ(Saves, 3);
    // A save starts a new interval.
    Saver.Changed();
    EXPECT_EQ(Saves, 3);
    EXPECT_TRUE(Saver.Pending());
}

// The changes that wait are saved by a timer of the thread when the interval ends, while the thread
// pumps its messages (as a visit's waits do), without a further change.
TEST(ThrottleTimer, SavesWhatWaitsWhenTheIntervalEnds) {
    std::function<TTime()> Clock = [] { return std::chrono::steady_clock::now(); };
    std::chrono::milliseconds Interval = 30ms;
    int Saves = 0;
    TSaveThrottle Saver([&] { ++Saves; }, Clock, Interval);
    Saver.Changed();
    Saver.Changed();
    Saver.Changed();
    ASSERT_EQ(Saves, 1);
    const TTime Deadline = Clock() + 10s;
    while (Saves < 2 && Clock() < Deadline) {
        platform::WaitForWork(100);
        platform::ProcessMessages();
    }
    EXPECT_EQ(Saves, 2);
    EXPECT_FALSE(Saver.Pending());
}

// A run whose visits take 100 ms each on the form's clock, with the one-second interval.
class ThrottledRun : public FormFixture {
protected:
    ThrottledRun() {
        Form.SaveInterval = 1000ms;
        Form.Clock = [this] { return Now; };
        for (int I = 1; I <= 25; ++I) Proxies.push_back("p" + std::to_string(I) + ":" + std::to_string(I));
        Memo1.SetLines(Proxies);
        Form.Visit = [this](TScriptedForm&, const std::string&, int32_t) {
            Now += 100ms;
            return 0;
        };
    }
    // The line of each "save" in the log: the number of pauses before it.
    std::vector<int> SavedAfter() const {
        std::vector<int> Result;
        int Pauses = 0;
        for (const std::string& Entry : Log) {
            if (Entry.rfind("pause ", 0) == 0) ++Pauses;
            if (Entry == "save") Result.push_back(Pauses);
        }
        return Result;
    }

    TTime Now = TTime() + 100h;
    Lines Proxies;
};

TEST_F(ThrottledRun, SavesOnceAnIntervalAndWhatWaitsAtTheEnd) {
    Form.Button1Click(&Form);
    // The first finished proxy, then the ones a second later, then the end of the list.
    EXPECT_EQ(SavedAfter(), (std::vector<int>{1, 11, 21, 25}));
    EXPECT_EQ(Log.back(), "status ");
    const std::string Saved = ReadFileBytes(SettingsPath());
    for (const std::string& Line : Memo1.Lines()) {
        EXPECT_EQ(Line.substr(Line.size() - 4), FailureMark);
        EXPECT_NE(Saved.find(Line + "\r\n"), std::string::npos) << Line;
    }
}

// A stop saves at once: during a visit, and during a pause with marks waiting.
TEST_F(ThrottledRun, StopSavesAtOnce) {
    Form.Visit = [this](TScriptedForm& Self, const std::string&, int32_t) {
        Now += 100ms;
        if (CountStarting("visit ") == 5) Self.RequestStop();
        return 0;
    };
    Form.Button1Click(&Form);
    EXPECT_EQ(SavedAfter(), (std::vector<int>{1, 4}));
    EXPECT_EQ(Log.back(), "status ");
    EXPECT_EQ(Log[Log.size() - 2], "save");

    Log.clear();
    Form.PauseHook = [this](int Milliseconds) {
        Log.push_back("pause " + std::to_string(Milliseconds));
        if (CountStarting("pause ") == 3) Form.RequestStop();
    };
    Form.Visit = [this](TScriptedForm&, const std::string&, int32_t) {
        Now += 100ms;
        return 1;
    };
    Now += 1h;
    Form.Button1Click(&Form);
    EXPECT_EQ(SavedAfter(), (std::vector<int>{1, 3}));
    const std::string Saved = ReadFileBytes(SettingsPath());
    size_t Marked = 0;
    for (size_t At = Saved.find(SuccessMark); At != std::string::npos; At = Saved.find(SuccessMark, At + 1))
        ++Marked;
    EXPECT_EQ(Marked, 3u);
}

} // namespace
