// The threaded server under load: a cap on the connections served at once, and what becomes of
// accepting and serving when this machine has no descriptor left.
#include "ServerTestPeers.h"
#include "ServerTestServers.h"

#include "net/TVexGeneralServer.h"
#include "support/SystemCallFailures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <future>
#include <memory>
#include <sys/syscall.h>
#include <thread>

using namespace servertest;

TEST(GeneralServerLoadTest, ConnectionsBeyondTheCapAreAcceptedAndClosedAtOnce) {
    TRecorder Recorder;
    auto Server = std::make_unique<TServerOf<TEchoServer>>(nullptr);
    int Contacts = 0;
    Server->OnClientContact = [&](TComponent*) { ++Contacts; };
    Server->MaxConnections = 2;
    StartListening(*Server, Recorder);
    const uint16_t Port = BoundPort(*Server);

    auto First = std::make_unique<TLoopbackClient>(Port);
    ASSERT_TRUE(PumpUntil([&] { return ConnectionCount(*Server) == 1; }));
    TLoopbackClient Second(Port);
    ASSERT_TRUE(PumpUntil([&] { return ConnectionCount(*Server) == 2; }));

    TLoopbackClient Third(Port);
    ASSERT_TRUE(PumpUntil([&] { return Contacts == 3; }));
    bool Orderly = false;
    EXPECT_EQ(Third.ReadAll(Orderly), "") << "closed without a word";
    EXPECT_TRUE(Orderly);
    EXPECT_EQ(ConnectionCount(*Server), 2);
    ASSERT_TRUE(Second.Send("still there\r\n"));
    EXPECT_EQ(Second.ReadLine(), "ECHO still there\r\n");

    // Once one has gone, the next client is served again.
    First.reset();
    ASSERT_TRUE(PumpUntil([&] { return ConnectionCount(*Server) == 1; }));
    TLoopbackClient Fourth(Port);
    ASSERT_TRUE(PumpUntil([&] { return ConnectionCount(*Server) == 2; }));
    ASSERT_TRUE(Fourth.Send("served\r\n"));
    EXPECT_EQ(Fourth.ReadLine(), "ECHO served\r\n");
}

namespace {

// A listening instance on a thread of its own, on which (and on whose serve threads) the given system
// calls fail with EMFILE once it listens, as they do when no descriptor is left. The client side runs on
// the test's thread, which keeps its descriptors.
class TShortListener {
public:
    explicit TShortListener(std::initializer_list<long> FailingCalls) {
        std::promise<uint16_t> Listening;
        auto Port = Listening.get_future();
        FThread = std::thread([this, FailingCalls, Promise = std::move(Listening)]() mutable {
            TRecorder Recorder;
            auto Server = std::make_unique<TServerOf<TEchoServer>>(nullptr);
            Server->OnClientContact = [this](TComponent*) { ++Contacts; };
            StartListening(*Server, Recorder);
            // The listening thread's own queue exists by now; what it creates from here on fails.
            const bool Filtered = FailSystemCallsOnThisThread(FailingCalls, EMFILE);
            Promise.set_value(Filtered ? BoundPort(*Server) : 0);
            if (Filtered) PumpUntil([this] { return Done.load(); }, 60s);
            Served = Recorder.Count();
            Server.reset();
        });
        FPort = Port.get();
    }
    ~TShortListener() { Finish(); }

    // Destroys the server on its thread and tells how many connections it served.
    size_t Finish() {
        Done = true;
        if (FThread.joinable()) FThread.join();
        return Served;
    }

    // 0 when the kernel refuses the filter.
    uint16_t Port() const { return FPort; }

    std::atomic<int> Contacts{0};
    std::atomic<bool> Done{false};
    std::atomic<size_t> Served{0};

private:
    uint16_t FPort = 0;
    std::thread FThread;
};

} // namespace

// A serve thread that cannot make its message queue could only spin while it waits for its client; it
// closes the connection instead, and the server goes on listening.
TEST(GeneralServerLoadTest, AServeThreadWithoutAMessageQueueClosesItsConnection) {
    TShortListener Listener({SYS_epoll_create1, SYS_eventfd2, SYS_timerfd_create});
    if (Listener.Port() == 0) GTEST_SKIP() << "the kernel refuses seccomp filters";
    TLoopbackClient Client(Listener.Port());
    // The client says nothing: a serve thread that waited for it would keep the connection.
    EXPECT_TRUE(Client.WaitClosed(10s));
    EXPECT_EQ(Listener.Finish(), 0u) << "nothing was served";
}

// A connection that cannot be accepted stays queued, so its notification would come back at once and
// fail again, thousands of times a second. Accepting pauses instead, longer with each failure in a row,
// and tries again after each pause.
TEST(GeneralServerLoadTest, AcceptingPausesWhileNoDescriptorIsLeft) {
    TShortListener Listener({SYS_accept4, SYS_accept});
    if (Listener.Port() == 0) GTEST_SKIP() << "the kernel refuses seccomp filters";
    TLoopbackClient Client(Listener.Port());
    ASSERT_TRUE(Client.Connected());
    const auto Deadline = TClock::now() + 10s;
    while (Listener.Contacts < 3 && TClock::now() < Deadline) std::this_thread::sleep_for(5ms);
    ASSERT_GE(Listener.Contacts, 3) << "it tries again after a pause";
    // A pause is at least 50 ms, so a second holds no more than twenty tries; a slower machine only
    // makes fewer.
    const int Before = Listener.Contacts;
    std::this_thread::sleep_for(1s);
    EXPECT_LE(Listener.Contacts - Before, 20);
}
