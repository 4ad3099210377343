// What a name look-up's completion may do to the component it reaches: fill in the address and end the
// wait, nothing more, and nothing at all once the component is being destroyed.
#include "net/TDovrel.h"
#include "platform/Sockets.h"
#include "platform/Windows.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

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
