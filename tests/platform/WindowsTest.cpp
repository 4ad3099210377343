#include "PumpHelpers.h"

#include "platform/ApplicationExceptions.h"
#include "platform/System.h"
#include "platform/UniqueFd.h"
#include "platform/Windows.h"
#include "support/SystemCallFailures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace platform;
using namespace platformtest;

namespace {

constexpr UINT TestMessage = WM_USER + 7;

bool Readable(int Fd, std::chrono::milliseconds Limit) {
    pollfd Poll{Fd, POLLIN, 0};
    return ::poll(&Poll, 1, static_cast<int>(Limit.count())) == 1 && (Poll.revents & POLLIN);
}

// Waits until Until, as a wait loop does, and counts how often the wait returned. A wait that blocks
// returns a handful of times whatever the machine's load (a busier machine only wakes it later); one that
// spins returns thousands of times.
int WakeUpsUntil(Clock::time_point Until, int SliceMs, int WatchFd = -1, short WatchEvents = 0) {
    int WakeUps = 0;
    while (Clock::now() < Until) {
        WaitForWork(SliceMs, WatchFd, WatchEvents);
        ProcessMessages();
        ++WakeUps;
    }
    return WakeUps;
}

// Records what reaches the application's exception handler while it lives; the default comes back after.
class RecordedExceptions {
public:
    RecordedExceptions() {
        SetApplicationExceptionHandler([this](const std::string& Message) {
            std::lock_guard Guard(Lock);
            Messages.push_back(Message);
        });
    }
    ~RecordedExceptions() { SetApplicationExceptionHandler({}); }
    std::vector<std::string> Taken() {
        std::lock_guard Guard(Lock);
        return Messages;
    }

private:
    std::mutex Lock;
    std::vector<std::string> Messages;
};

} // namespace

TEST(Windows, ClassesWindowsAndExtraSlot) {
    RecordingWindow Window;
    ASSERT_NE(Window.Handle, 0u);
    EXPECT_TRUE(IsWindow(Window.Handle));
    WNDCLASS Class;
    Class.ClassName = RecordingWindow::ClassName;
    Class.WndProc = [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; };
    EXPECT_FALSE(RegisterClass(Class)) << "a class name is registered once";
    EXPECT_EQ(CreateWindowEx("NoSuchClass"), 0u);
    EXPECT_EQ(GetWindowLongPtr(Window.Handle, 0), reinterpret_cast<intptr_t>(&Window));
    EXPECT_EQ(GetWindowLongPtr(Window.Handle, 64), 0) << "outside the extra storage";
    EXPECT_FALSE(PostMessage(0, TestMessage, 0, 0));
}

TEST(Windows, MessagesPostedFromOtherThreadsArriveInOrder) {
    constexpr int PerThread = 500;
    RecordingWindow Window;
    std::vector<std::thread> Posters;
    for (int T = 0; T < 2; ++T)
        Posters.emplace_back([&, T] {
            for (int I = 0; I < PerThread; ++I) PostMessage(Window.Handle, TestMessage + T, I, T);
        });
    for (auto& P : Posters) P.join();
    ASSERT_TRUE(PumpUntil([&] { return Window.Messages.size() == 2 * PerThread; }));
    WPARAM Next[2] = {0, 0};
    for (const auto& M : Window.Messages) {
        ASSERT_EQ(M.Message, TestMessage + M.LParam);
        EXPECT_EQ(M.WParam, Next[M.LParam]++) << "each poster's messages keep their order";
    }
}

TEST(Windows, MessagesForADestroyedWindowAreDropped) {
    auto Window = std::make_unique<RecordingWindow>();
    const HWND Old = Window->Handle;
    ASSERT_TRUE(PostMessage(Old, TestMessage, 1, 0));
    ASSERT_TRUE(DestroyWindow(Old));
    EXPECT_FALSE(IsWindow(Old));
    EXPECT_FALSE(PostMessage(Old, TestMessage, 2, 0));
    EXPECT_FALSE(DestroyWindow(Old));
    RecordingWindow Next;
    EXPECT_NE(Next.Handle, Old) << "handles are never reused";
    ProcessMessages();
    EXPECT_TRUE(Window->Messages.empty());

    // A procedure that destroys its own window: what is queued behind it is dropped as well.
    RecordingWindow SelfDestroying([](RecordingWindow& W, const Received&) { DestroyWindow(W.Handle); });
    PostMessage(SelfDestroying.Handle, TestMessage, 1, 0);
    PostMessage(SelfDestroying.Handle, TestMessage, 2, 0);
    ProcessMessages();
    EXPECT_EQ(SelfDestroying.Messages.size(), 1u);
}

TEST(Windows, DestroyFromAnotherThreadWaitsForTheRunningProcedure) {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Entered = false;
    bool DestroyReturned = false;
    bool ProcedureDone = false;
    bool ReturnedEarly = false;

    RecordingWindow Window([&](RecordingWindow&, const Received&) {
        std::unique_lock Guard(Lock);
        Entered = true;
        Changed.notify_all();
        // DestroyWindow must not return while this procedure runs; give it ample chance to.
        Changed.wait_for(Guard, 150ms, [&] { return DestroyReturned; });
        ReturnedEarly = DestroyReturned;
        ProcedureDone = true;
    });
    const HWND Handle = Window.Handle;
    PostMessage(Handle, TestMessage, 1, 0);
    PostMessage(Handle, TestMessage, 2, 0);

    bool DoneWhenDestroyReturned = false;
    std::thread Destroyer([&] {
        {
            std::unique_lock Guard(Lock);
            Changed.wait(Guard, [&] { return Entered; });
        }
        const bool Destroyed = DestroyWindow(Handle);
        std::lock_guard Guard(Lock);
        DestroyReturned = Destroyed;
        DoneWhenDestroyReturned = ProcedureDone;
        Changed.notify_all();
    });
    ProcessMessages();
    Destroyer.join();
    EXPECT_TRUE(DestroyReturned);
    EXPECT_FALSE(ReturnedEarly);
    EXPECT_TRUE(DoneWhenDestroyReturned);
    EXPECT_EQ(Window.Messages.size(), 1u) << "the message queued behind it is dropped";
}

// A procedure's exception does not unwind through the pump: the pump goes on with the next message,
// and the application's exception handler hears of it.
TEST(Windows, ProcedureExceptionsReachTheApplicationsHandlerNotThePump) {
    RecordedExceptions Recorded;
    RecordingWindow Window([](RecordingWindow&, const Received& M) {
        if (M.WParam == 1) throw std::runtime_error("handler failure");
        if (M.WParam == 2) throw 42;
    });
    for (WPARAM Kind : {1, 2, 3}) PostMessage(Window.Handle, TestMessage, Kind, 0);
    EXPECT_NO_THROW(ProcessMessages());
    EXPECT_EQ(Window.Messages.size(), 3u);
    EXPECT_EQ(Recorded.Taken(), (std::vector<std::string>{"handler failure", "Unknown exception"}));
}

TEST(Windows, WithoutAnInstalledHandlerTheMessageGoesToStandardError) {
    SetApplicationExceptionHandler({});
    RecordingWindow Window([](RecordingWindow&, const Received&) { throw std::runtime_error("lost tick"); });
    PostMessage(Window.Handle, TestMessage, 0, 0);
    testing::internal::CaptureStderr();
    ProcessMessages();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "lost tick\n");
}

TEST(Windows, MessagesPostedDuringDispatchWaitForTheNextPump) {
    RecordingWindow Window(
        [](RecordingWindow& W, const Received& M) { PostMessage(W.Handle, TestMessage, M.WParam + 1, 0); });
    PostMessage(Window.Handle, TestMessage, 0, 0);
    ProcessMessages();
    EXPECT_EQ(Window.Messages.size(), 1u);
    EXPECT_TRUE(Readable(QueueFd(), 0ms)) << "the queue still has work";
    ProcessMessages();
    EXPECT_EQ(Window.Messages.size(), 2u);
}

TEST(Windows, EventHookRunsInProcessMessagesOnly) {
    int Runs = 0;
    SetEventHook([&] { ++Runs; });
    DispatchPendingMessages();
    EXPECT_EQ(Runs, 0);
    ProcessMessages();
    EXPECT_EQ(Runs, 1);
    SetEventHook({});
    ProcessMessages();
    EXPECT_EQ(Runs, 1);
}

TEST(Timers, ALatePumpFindsOneTickAndTheTimerGoesOn) {
    RecordingWindow Window;
    ASSERT_EQ(SetTimer(Window.Handle, 7, 40), 7u);
    Sleep(300); // the thread is busy for several periods
    ProcessMessages();
    const auto Pumped = Clock::now();
    ASSERT_EQ(Window.Count(WM_TIMER), 1u) << "one tick, not one per period missed";
    EXPECT_EQ(Window.Messages[0].WParam, 7u);
    ProcessMessages();
    if (Clock::now() - Pumped < 40ms) {
        EXPECT_EQ(Window.Count(WM_TIMER), 1u) << "the next period starts when the tick is queued";
    }
    EXPECT_TRUE(PumpUntil([&] { return Window.Count(WM_TIMER) == 3; }));
    EXPECT_TRUE(KillTimer(Window.Handle, 7));
    EXPECT_FALSE(KillTimer(Window.Handle, 7));
}

TEST(Timers, RefusedStarts) {
    RecordingWindow Window;
    EXPECT_EQ(SetTimer(Window.Handle, 1, 0), 0u);
    const HWND Gone = Window.Handle;
    DestroyWindow(Gone);
    EXPECT_EQ(SetTimer(Gone, 1, 10), 0u);
}

TEST(Timers, ARestartBeginsAFullPeriod) {
    RecordingWindow Window;
    SetTimer(Window.Handle, 1, 100);
    Sleep(70);
    const auto Restarted = Clock::now();
    SetTimer(Window.Handle, 1, 100);
    ASSERT_TRUE(PumpUntil([&] { return Window.Count(WM_TIMER) == 1; }));
    EXPECT_GE(Clock::now() - Restarted, 100ms);
    KillTimer(Window.Handle, 1);
}

TEST(Timers, KillingATimerDropsItsPendingTick) {
    // The tick becomes pending in the same pump that dispatches the message stopping it.
    for (const bool Restart : {false, true}) {
        RecordingWindow Window([&](RecordingWindow& W, const Received& M) {
            if (M.Message != TestMessage) return;
            if (Restart)
                SetTimer(W.Handle, 1, 10000);
            else
                KillTimer(W.Handle, 1);
        });
        SetTimer(Window.Handle, 1, 5);
        PostMessage(Window.Handle, TestMessage, 0, 0);
        Sleep(20);
        ProcessMessages();
        ProcessMessages();
        EXPECT_EQ(Window.Count(TestMessage), 1u);
        EXPECT_EQ(Window.Count(WM_TIMER), 0u) << (Restart ? "restarted" : "killed");
    }
}

TEST(Timers, TimerStartedAndStoppedFromAnotherThread) {
    RecordingWindow Window;
    std::thread([&] { SetTimer(Window.Handle, 3, 10); }).join();
    ASSERT_TRUE(PumpUntil([&] { return Window.Count(WM_TIMER) == 1; }));
    std::thread([&] { KillTimer(Window.Handle, 3); }).join();
    Sleep(30);
    ProcessMessages();
    EXPECT_EQ(Window.Count(WM_TIMER), 1u);
}

TEST(Queue, QueueFdBecomesReadableWhenThereIsWork) {
    RecordingWindow Window;
    const int Fd = QueueFd();
    ProcessMessages();
    EXPECT_FALSE(Readable(Fd, 0ms));

    std::thread([&] { PostMessage(Window.Handle, TestMessage, 0, 0); }).join();
    EXPECT_TRUE(Readable(Fd, 5000ms)) << "on a post from another thread";
    DispatchPendingMessages();
    EXPECT_FALSE(Readable(Fd, 0ms));

    SetTimer(Window.Handle, 1, 20);
    EXPECT_TRUE(Readable(Fd, 5000ms)) << "on a due timer";
    DispatchPendingMessages();
    EXPECT_EQ(Window.Count(WM_TIMER), 1u);
    KillTimer(Window.Handle, 1);
    EXPECT_FALSE(Readable(Fd, 0ms));
}

TEST(Queue, WaitForWorkBlocksWithoutSpinning) {
    RecordingWindow Window;
    ProcessMessages();
    // Each wait lasts its whole 100 ms: three, and one more for the rounding of the last.
    EXPECT_LE(WakeUpsUntil(Clock::now() + 300ms, 100), 5);

    // A watched socket that only hangs up (one never connected does so at once) is no reason to return.
    const UniqueFd Fresh(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    EXPECT_LE(WakeUpsUntil(Clock::now() + 300ms, 100, Fresh.Get(), POLLIN), 5);

    // With a toolkit hook the wait wakes every few milliseconds to serve it, although each wait asks for
    // a whole second: twenty runs come long before twenty seconds...
    int HookRuns = 0;
    SetEventHook([&] { ++HookRuns; });
    const auto Deadline = Clock::now() + 5s;
    while (HookRuns < 20 && Clock::now() < Deadline) {
        WaitForWork(1000);
        ProcessMessages();
    }
    EXPECT_GE(HookRuns, 20);
    // ...and still without spinning: 300 ms hold at most 60 waits of 5 ms.
    EXPECT_LE(WakeUpsUntil(Clock::now() + 300ms, 1000), 80);
    SetEventHook({});
}

// A thread that cannot make its message queue (no descriptor left) still waits instead of returning at
// once, which would make every wait loop of that thread spin.
TEST(Queue, WaitForWorkBlocksOnAThreadWithoutAQueue) {
    bool Filtered = false;
    bool NoQueue = false;
    int WakeUps = 0;
    std::thread([&] {
        Filtered = FailSystemCallsOnThisThread({SYS_epoll_create1, SYS_eventfd2, SYS_timerfd_create}, EMFILE);
        if (!Filtered) return;
        NoQueue = QueueFd() < 0;
        WakeUps = WakeUpsUntil(Clock::now() + 300ms, 100);
    }).join();
    if (!Filtered) GTEST_SKIP() << "the kernel refuses seccomp filters";
    ASSERT_TRUE(NoQueue);
    EXPECT_LE(WakeUps, 5);
}

TEST(Queue, WaitForWorkEndsForPendingMessagesAndTheWatchedDescriptor) {
    RecordingWindow Window;
    PostMessage(Window.Handle, TestMessage, 0, 0);
    auto Before = Clock::now();
    WaitForWork(10000);
    EXPECT_LT(Clock::now() - Before, 5s);
    ProcessMessages();

    std::thread([&] { PostMessage(Window.Handle, TestMessage, 1, 0); }).detach();
    Before = Clock::now();
    WaitForWork(10000);
    EXPECT_LT(Clock::now() - Before, 5s);
    ASSERT_TRUE(PumpUntil([&] { return Window.Messages.size() == 2; }));

    int Pipe[2];
    ASSERT_EQ(::pipe(Pipe), 0);
    ASSERT_EQ(::write(Pipe[1], "x", 1), 1);
    Before = Clock::now();
    WaitForWork(10000, Pipe[0], POLLIN);
    EXPECT_LT(Clock::now() - Before, 5s);
    ::close(Pipe[0]);
    ::close(Pipe[1]);
}
