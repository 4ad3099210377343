// The window timer: ticks on the creating thread, setters that act only on a change.
#include "net/TThreadTimer.h"
#include "SocketTestKit.h"
#include "framework/Exceptions.h"
#include "platform/ApplicationExceptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace sockettest;

namespace {

// Counts the ticks that reach Timer, with or without a handler.
class TCountingTimer : public TThreadTimer {
public:
    using TThreadTimer::TThreadTimer;
    int Ticks = 0;

protected:
    void Timer() override {
        ++Ticks;
        TThreadTimer::Timer();
    }
};

// A timer that ticks every Milliseconds and runs Each on every tick; the other timers are watched
// against its ticks instead of against a clock.
class TMetronome {
public:
    TMetronome(uint32_t Milliseconds, std::function<void()> Each = {}) : FTimer(nullptr) {
        FTimer.SetInterval(Milliseconds);
        FTimer.SetOnTimer([this, Each = std::move(Each)](TComponent*) {
            ++Beats;
            if (Each) Each();
        });
    }
    int Beats = 0;

private:
    TThreadTimer FTimer;
};

TEST(TThreadTimerTest, ANewTimerIsEnabledAtOneSecondButRunsOnlyWithAHandler) {
    TCountingTimer Timer(nullptr);
    EXPECT_TRUE(Timer.Enabled());
    EXPECT_EQ(Timer.Interval(), 1000u);
    EXPECT_NE(Timer.WindowHandle, 0u);

    Timer.SetInterval(10);
    TMetronome Watch(20);
    ASSERT_TRUE(PumpUntil([&] { return Watch.Beats >= 10; }));
    EXPECT_EQ(Timer.Ticks, 0);

    int Fired = 0;
    Timer.SetOnTimer([&](TComponent* Sender) {
        EXPECT_EQ(Sender, &Timer);
        ++Fired;
    });
    ASSERT_TRUE(PumpUntil([&] { return Fired >= 3; }));
}

TEST(TThreadTimerTest, IntervalZeroOrDisabledRunsNoTimer) {
    TCountingTimer Zero(nullptr);
    Zero.SetOnTimer([](TComponent*) {});
    Zero.SetInterval(0);
    TCountingTimer Disabled(nullptr);
    Disabled.SetInterval(10);
    Disabled.SetOnTimer([](TComponent*) {});
    Disabled.SetEnabled(false);
    TMetronome Watch(20);
    ASSERT_TRUE(PumpUntil([&] { return Watch.Beats >= 10; }));
    EXPECT_EQ(Zero.Ticks, 0);
    EXPECT_EQ(Disabled.Ticks, 0);
}

// A timer of one second that is touched every 20 ms fires only if touching does not restart it.
TEST(TThreadTimerTest, SettingTheSameIntervalDoesNotRestartTheTimer) {
    TCountingTimer Timer(nullptr);
    Timer.SetInterval(1000);
    Timer.SetOnTimer([](TComponent*) {});
    TMetronome Toucher(20, [&] {
        Timer.SetInterval(1000);
        Timer.SetEnabled(true);
    });
    EXPECT_TRUE(PumpUntil([&] { return Timer.Ticks >= 1; }));
}

TEST(TThreadTimerTest, SettingADifferentIntervalStartsAFullNewPeriod) {
    TCountingTimer Timer(nullptr);
    Timer.SetInterval(1000);
    Timer.SetOnTimer([](TComponent*) {});
    bool Odd = false;
    TMetronome Toucher(20, [&] {
        Odd = !Odd;
        Timer.SetInterval(Odd ? 1001 : 1000);
    });
    // A hundred touches span the period twice; none may let it run out.
    ASSERT_TRUE(PumpUntil([&] { return Toucher.Beats >= 100; }));
    EXPECT_EQ(Timer.Ticks, 0);
}

// A handler's exception goes to the application's exception handler (the window's message box, the
// console program's standard error), and the timer goes on ticking.
TEST(TThreadTimerTest, AFailingHandlerReachesTheApplicationAndTheTicksGoOn) {
    std::vector<std::string> Reported;
    platform::SetApplicationExceptionHandler(
        [&](const std::string& Message) { Reported.push_back(Message); });
    TThreadTimer Timer(nullptr);
    int Fired = 0;
    Timer.SetInterval(10);
    Timer.SetOnTimer([&](TComponent*) {
        ++Fired;
        throw Exception("tick handler \x81\x9B");
    });
    EXPECT_TRUE(PumpUntil([&] { return Fired >= 3; }));
    Timer.SetEnabled(false);
    platform::SetApplicationExceptionHandler({});
    EXPECT_EQ(Reported, std::vector<std::string>(Fired, "tick handler \x81\x9B"));
}

TEST(TThreadTimerTest, AHandlerMayStopItsOwnTimer) {
    TThreadTimer Timer(nullptr);
    int Fired = 0;
    Timer.SetInterval(10);
    Timer.SetOnTimer([&](TComponent*) {
        ++Fired;
        Timer.SetOnTimer({});
    });
    TMetronome Watch(20);
    ASSERT_TRUE(PumpUntil([&] { return Watch.Beats >= 10; }));
    EXPECT_EQ(Fired, 1);
}

} // namespace
