// What a name look-up's completion may do to the component it reaches: fill in the address and end the
// wait, nothing more, and nothing at all once the component is being destroyed.
#include "SocketTestKit.h"
#include "net/TDovrel.h"
#include "platform/Sockets.h"
#include "platform/Windows.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <memory>
#include <poll.h>
#include <thread>
#include <vector>

using namespace sockettest;

namespace {

// A name with one address is the usual proxy. Its completion shares a message with the one a waiting
// listener posts for a connection, and must not pass for it: such a component would count itself
// connected before its connect had even started.
TEST(LookUpCompletion, OfANameWithOneAddressNeitherConnectsNorDisconnects) {
    TDovrel Socket(nullptr);
    int Disconnects = 0;
    Socket.OnDisconnect = [&](TComponent*) { ++Disconnects; };
    Socket.Host = "localhost";
    Socket.TimeOut = 10000;

    Socket.ResolveRemoteHost();

    EXPECT_EQ(Socket.RemoteAddress.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_FALSE(Socket.IsConnected);
    EXPECT_EQ(Disconnects, 0);
}

// A look-up given up on (cancelled here; a time-out does the same) still finishes in the background.
// Its answer must reach nobody: the next name's look-up waits for its own answer, instead of taking the
// late one's address or its failure.
struct TLateAnswerCase {
    const char* Name;
    const char* GivenUp;
    const char* Next;
    bool NextResolves;
};
void PrintTo(const TLateAnswerCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class LateAnswerTest : public testing::TestWithParam<TLateAnswerCase> {};

TEST_P(LateAnswerTest, AnswersNobody) {
    const auto& Case = GetParam();
    TDovrel Socket(nullptr);
    Socket.TimeOut = 10000;
    platform::ProcessMessages();
    Socket.Host = Case.GivenUp;
    Socket.Cancel();
    EXPECT_EQ(MessageOf<ESockError>([&] { Socket.ResolveRemoteHost(); }), "Host Lookup Canceled");
    Socket.CancelRequested = false;
    // The late answer is queued for the component's window before the next look-up starts.
    pollfd Queue{platform::QueueFd(), POLLIN, 0};
    ::poll(&Queue, 1, 5000);

    Socket.Host = Case.Next;
    if (Case.NextResolves) {
        EXPECT_NO_THROW(Socket.ResolveRemoteHost());
        EXPECT_EQ(Socket.RemoteAddress.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    } else {
        EXPECT_EQ(MessageOf<ESockError>([&] { Socket.ResolveRemoteHost(); }), "Host Lookup Failed");
        EXPECT_EQ(Socket.RemoteAddress.sin_addr.s_addr, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    LookUpCompletion, LateAnswerTest,
    testing::Values(TLateAnswerCase{"AnAddressIsNotTakenForTheNextName", "localhost", "nothing.invalid",
                                    false},
                    TLateAnswerCase{"AFailureDoesNotFailTheNextName", "nothing.invalid", "localhost", true}),
    [](const testing::TestParamInfo<TLateAnswerCase>& Info) { return std::string(Info.param.Name); });

// A completion of a look-up the component did not start changes nothing in it.
TEST(LookUpCompletion, OfALookUpTheComponentDidNotStartChangesNothing) {
    TDovrel Socket(nullptr);
    Socket.LastEventOk = true;
    platform::PostMessage(Socket.WindowHandle, LookupDoneMessage, 12345,
                          platform::MakeSelectReply(0, platform::WSAHOST_NOT_FOUND));
    platform::ProcessMessages();
    EXPECT_FALSE(Socket.WaitDone);
    EXPECT_TRUE(Socket.LastEventOk);
}

// Components destroyed on a thread of their own (as a serve thread destroys its connection instance)
// while this thread, the one their windows belong to, dispatches their look-up completions as they
// arrive: a completion copies its entry into the component's buffer, and must never do so once the
// buffer is gone. Under AddressSanitizer a late copy is a use after free. The moment is narrow, so this
// catches a destructor that frees the buffer before its window in most runs, not in every one.
TEST(LookUpCompletion, NeverWritesIntoAComponentDestroyedOnAnotherThread) {
    constexpr int Rounds = 100;
    constexpr int Components = 4;
    constexpr int LookUpsEach = 16;
    for (int Round = 0; Round < Rounds; ++Round) {
        std::vector<std::unique_ptr<TDovrel>> Sockets;
        for (int C = 0; C < Components; ++C) {
            auto Socket = std::make_unique<TDovrel>(nullptr);
            for (int L = 0; L < LookUpsEach; ++L)
                ASSERT_NE(platform::WSAAsyncGetHostByName(Socket->WindowHandle, LookupDoneMessage,
                                                          "localhost", Socket->HostEntryBuffer.get(), 1024),
                          0u);
            Sockets.push_back(std::move(Socket));
        }
        std::atomic<bool> Gone{false};
        std::thread Destroyer([&] {
            for (auto& Socket : Sockets) Socket.reset();
            Gone = true;
        });
        while (!Gone) {
            platform::WaitForWork(5);
            platform::DispatchPendingMessages();
        }
        Destroyer.join();
    }
}

} // namespace
