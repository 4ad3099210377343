// The deadline scope of the socket component: one bound for every wait inside it, which ends a wait as the
// time-out does, even where no time-out is set; an inner scope never extends it; and once the scope has
// ended, the waits are as unbounded as before.
#include "SocketTestKit.h"
#include "net/SocketErrors.h"
#include "net/TDeadlineScope.h"
#include "support/HangGuard.h"

#include <gtest/gtest.h>

namespace {

using namespace sockettest;

// Reads a line that never comes: the wait must end with the deadline alone (TimeOut is 0).
void ExpectReadLnEndsByDeadline(TDovrel& Socket) {
    HangGuard Guard("ReadLn under a deadline", 5s);
    try {
        Socket.ReadLn();
        ADD_FAILURE() << "no exception";
    } catch (const EAbortError& E) {
        EXPECT_EQ(std::string(E.what()), "Socket readln aborted");
    }
    EXPECT_TRUE(Socket.TimedOut);
}

TEST(DeadlineScope, EndsAWaitWithoutATimeOut) {
    TConnected Pair(PeerScript().Hold());
    TDeadlineScope Deadline(Pair.Socket, 200);
    ExpectReadLnEndsByDeadline(Pair.Socket);
}

TEST(DeadlineScope, SpansTheWaitsInside) {
    TConnected Pair(PeerScript().Stall(150ms).Send("one\r\n").Stall(150ms).Send("two\r\n").Hold());
    TDeadlineScope Deadline(Pair.Socket, 200);
    EXPECT_EQ(Pair.Socket.ReadLn(), "one\r\n");
    ExpectReadLnEndsByDeadline(Pair.Socket);
}

TEST(DeadlineScope, InnerScopeNeverExtendsTheOuter) {
    TConnected Pair(PeerScript().Hold());
    TDeadlineScope Outer(Pair.Socket, 200);
    TDeadlineScope Inner(Pair.Socket, 60000);
    ExpectReadLnEndsByDeadline(Pair.Socket);
}

TEST(DeadlineScope, BoundsNothingOnceEnded) {
    TConnected Pair(PeerScript().Stall(300ms).Send("late\r\n").Hold());
    { TDeadlineScope Deadline(Pair.Socket, 1); }
    HangGuard Guard("ReadLn after a deadline scope", 5s);
    EXPECT_EQ(Pair.Socket.ReadLn(), "late\r\n");
    EXPECT_FALSE(Pair.Socket.TimedOut);
}

} // namespace
