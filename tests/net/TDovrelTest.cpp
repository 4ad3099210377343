// The socket component's core: start-up, connecting, closing, notifications, status and error texts.
#include "net/TDovrel.h"
#include "SocketTestKit.h"
#include "framework/Exceptions.h"
#include "net/SocketErrors.h"
#include "platform/Sockets.h"
#include "support/LoopbackPeer.h"
#include "support/LoopbackPorts.h"

#include "support/SystemCallFailures.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <gtest/gtest.h>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <vector>

using namespace sockettest;

namespace {

// A name the resolver refuses without asking a name server (a label may hold at most 63 bytes), so
// the look-up fails at once and no query leaves the machine.
const std::string UnresolvableName = std::string(64, 'a') + ".invalid";

// Every test ends with the socket library stopped by the last component.
class TDovrelTest : public testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(TDovrel::WinsockUsers, 0); }
};

// ---- error texts ----

struct TErrorTextCase {
    uint16_t Errno;
    const char* Text;
};
void PrintTo(const TErrorTextCase& Case, std::ostream* Out) {
    *Out << Case.Errno;
}

class SocketErrorStrTest : public TDovrelTest, public testing::WithParamInterface<TErrorTextCase> {};

TEST_P(SocketErrorStrTest, GivesNumberColonTextOrTheUnknownText) {
    TDovrel Socket(nullptr);
    EXPECT_EQ(Socket.SocketErrorStr(GetParam().Errno), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SocketErrorStrTest,
    testing::Values(TErrorTextCase{0, ""}, TErrorTextCase{10061, "10061:Connection refused"},
                    TErrorTextCase{12345, "Unknown Error No. 12345"},
                    TErrorTextCase{10004, "10004:Interrupted system call"},
                    TErrorTextCase{10047, "10047:Address family not supported by protocol family"},
                    TErrorTextCase{10065, "10065:No route to Host"},
                    TErrorTextCase{10071, "10071:Too many levels of remote in path"},
                    TErrorTextCase{10091, "10091:Network subsystem is unavailable"},
                    TErrorTextCase{11003, "11003:Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
                    TErrorTextCase{11004, "11004:Valid name, no data record of requested type"},
                    TErrorTextCase{10072, "Unknown Error No. 10072"},
                    TErrorTextCase{1, "Unknown Error No. 1"}));

struct TErrorManagerCase {
    int LastError;
    const char* Raised; // nullptr: nothing is raised
};
void PrintTo(const TErrorManagerCase& Case, std::ostream* Out) {
    *Out << "last error " << Case.LastError;
}

class ErrorManagerTest : public TDovrelTest, public testing::WithParamInterface<TErrorManagerCase> {};

TEST_P(ErrorManagerTest, RaisesOnlyRealSocketErrorsAfterOnError) {
    TDovrel Socket(nullptr);
    std::vector<std::pair<uint16_t, std::string>> Errors;
    Socket.OnError = [&](TComponent* Sender, uint16_t Errno, const std::string& Text) {
        EXPECT_EQ(Sender, &Socket);
        Errors.emplace_back(Errno, Text);
    };
    std::string Text = "stale";
    platform::WSASetLastError(GetParam().LastError);
    if (GetParam().Raised) {
        EXPECT_EQ(MessageOf<ESockError>([&] { Socket.ErrorManager(10035, Text); }), GetParam().Raised);
        ASSERT_EQ(Errors.size(), 1u);
        EXPECT_EQ(Errors[0].first, GetParam().LastError);
        EXPECT_EQ(Errors[0].second, GetParam().Raised);
    } else {
        Socket.ErrorManager(10035, Text);
        EXPECT_EQ(Text, "");
        EXPECT_TRUE(Errors.empty());
    }
    EXPECT_EQ(Socket.LastErrorNo, GetParam().LastError);
}

INSTANTIATE_TEST_SUITE_P(Table, ErrorManagerTest,
                         testing::Values(TErrorManagerCase{10054, "10054:Connection reset by peer"},
                                         TErrorManagerCase{10035, nullptr}, TErrorManagerCase{0, nullptr},
                                         TErrorManagerCase{10000, nullptr},
                                         TErrorManagerCase{10001, "Unknown Error No. 10001"}));

TEST_F(TDovrelTest, SetWSAErrorReportsWithoutRaisingAndFillsAnEmptyText) {
    TDovrel Socket(nullptr);
    std::vector<std::string> Texts;
    Socket.OnError = [&](TComponent*, uint16_t, const std::string& Text) { Texts.push_back(Text); };
    Socket.SetWSAError(10060, "");
    Socket.SetWSAError(10061, "own text");
    EXPECT_EQ(Texts, (std::vector<std::string>{"10060:Connection timed out", "own text"}));
    EXPECT_EQ(Socket.LastErrorNo, 10061);
    EXPECT_EQ(platform::WSAGetLastError(), 10061);
}

// ---- start-up ----

TEST_F(TDovrelTest, OnlyTheFirstComponentStartsTheLibraryAndDescribesIt) {
    const std::vector<std::string> Prefixes = {
        "Version= ", "High Version= ", "Description= ", "System= ", "Max Sockets= ", "Max Udp pack size= "};
    auto ExpectDescribed = [&](const TDovrel& Socket) {
        ASSERT_EQ(Socket.WinsockInfo->Count(), 6);
        for (int I = 0; I < 6; ++I) EXPECT_EQ(Socket.WinsockInfo->Get(I).rfind(Prefixes[I], 0), 0u) << I;
        EXPECT_EQ(Socket.WinsockInfo->Get(0), "Version= 1.1");
    };
    {
        TDovrel First(nullptr);
        EXPECT_EQ(TDovrel::WinsockUsers, 1);
        ExpectDescribed(First);
        {
            TDovrel Second(nullptr);
            EXPECT_EQ(TDovrel::WinsockUsers, 2);
            EXPECT_EQ(Second.WinsockInfo->Count(), 0);
            EXPECT_EQ(Second.WinsockData.wVersion, 0);
        }
        EXPECT_EQ(TDovrel::WinsockUsers, 1);
    }
    EXPECT_EQ(TDovrel::WinsockUsers, 0);
    // With the library stopped, the next component is the first again.
    TDovrel Again(nullptr);
    ExpectDescribed(Again);
}

TEST_F(TDovrelTest, ComponentsOwnedByAnotherGoWithTheirOwner) {
    {
        TComponent Owner(nullptr);
        new TDovrel(&Owner);
        new TDovrel(&Owner);
        EXPECT_EQ(TDovrel::WinsockUsers, 2);
    }
    EXPECT_EQ(TDovrel::WinsockUsers, 0);
}

TEST_F(TDovrelTest, ANewComponentHasAnOpenUnconnectedSocketAndReportsNothing) {
    TDovrel Socket(nullptr);
    EXPECT_NE(Socket.SocketHandle, NoSocket);
    EXPECT_NE(Socket.WindowHandle, 0u);
    EXPECT_FALSE(Socket.IsConnected);
    EXPECT_EQ(Socket.TimeOut, 0);
    EXPECT_EQ(Socket.ReportLevel, 0);
    EXPECT_EQ(Socket.StatusText, "");
}

// ---- connecting ----

TEST_F(TDovrelTest, DottedAddressConnectsWithoutALookUp) {
    LoopbackPeer Peer(PeerScript().Hold());
    TDovrel Socket(nullptr);
    int Resolved = 0, Connected = 0;
    Socket.OnHostResolved = [&](TComponent*) { ++Resolved; };
    Socket.OnConnect = [&](TComponent* Sender) {
        EXPECT_EQ(Sender, &Socket);
        ++Connected;
    };
    Socket.Host = "127.0.0.1";
    Socket.Port = Peer.Port();
    Socket.Connect();
    EXPECT_TRUE(Socket.IsConnected);
    EXPECT_EQ(Resolved, 0);
    EXPECT_EQ(Connected, 1);
    EXPECT_EQ(Socket.GetRemoteIP(), "127.0.0.1");
    EXPECT_EQ(ntohs(Socket.RemoteAddress.sin_port), Peer.Port());
    EXPECT_EQ(MessageOf<ESockError>([&] { Socket.Connect(); }), "Already connected");
}

TEST_F(TDovrelTest, HostNameIsLookedUpAndReported) {
    LoopbackPeer Peer(PeerScript().Hold());
    TDovrel Socket(nullptr);
    int Resolved = 0;
    Socket.OnHostResolved = [&](TComponent* Sender) {
        EXPECT_EQ(Sender, &Socket);
        EXPECT_EQ(Socket.GetRemoteIP(), "127.0.0.1");
        ++Resolved;
    };
    Socket.Host = "localhost";
    Socket.Port = Peer.Port();
    Socket.Connect();
    EXPECT_TRUE(Socket.IsConnected);
    EXPECT_EQ(Resolved, 1);
}

TEST_F(TDovrelTest, AllOnesAddressIsTreatedAsAName) {
    TDovrel Socket(nullptr);
    int Resolved = 0;
    Socket.OnHostResolved = [&](TComponent*) { ++Resolved; };
    Socket.Host = "255.255.255.255";
    Socket.ResolveRemoteHost();
    EXPECT_EQ(Resolved, 1);
    EXPECT_EQ(Socket.GetRemoteIP(), "255.255.255.255");
}

TEST_F(TDovrelTest, ProxyIsResolvedAndConnectedInsteadOfHost) {
    LoopbackPeer Peer(PeerScript().Hold());
    TDovrel Socket(nullptr);
    Socket.Host = UnresolvableName;
    Socket.Port = 1;
    Socket.Proxy = "127.0.0.1";
    Socket.ProxyPort = Peer.Port();
    Socket.Connect();
    EXPECT_TRUE(Socket.IsConnected);
    EXPECT_TRUE(Peer.WaitReceived([](const std::string&) { return true; }));
    EXPECT_EQ(Peer.Accepted(), 1u);
}

enum class TCorrection { Unset, Declines, HandledButUnchanged, FixesHost };

struct TInvalidHostCase {
    TCorrection Handler;
    bool Connects;
    int Questions;
};
void PrintTo(const TInvalidHostCase& Case, std::ostream* Out) {
    const char* Names[] = {"unset", "declines", "handled but unchanged", "fixes the host"};
    *Out << "handler " << Names[static_cast<int>(Case.Handler)];
}

class InvalidHostTest : public TDovrelTest, public testing::WithParamInterface<TInvalidHostCase> {};

TEST_P(InvalidHostTest, TheHandlerGetsOneChanceToCorrectTheHost) {
    LoopbackPeer Peer(PeerScript().Hold());
    TDovrel Socket(nullptr);
    Socket.Host = UnresolvableName;
    Socket.Port = Peer.Port();
    int Questions = 0;
    if (GetParam().Handler != TCorrection::Unset) {
        Socket.OnInvalidHost = [&](bool& Handled) {
            ++Questions;
            if (GetParam().Handler == TCorrection::Declines) return;
            Handled = true;
            if (GetParam().Handler == TCorrection::FixesHost) Socket.Host = "127.0.0.1";
        };
    }
    if (GetParam().Connects) {
        Socket.Connect();
        EXPECT_TRUE(Socket.IsConnected);
    } else {
        EXPECT_EQ(MessageOf<ESockError>([&] { Socket.Connect(); }), "Null Remote Address");
        EXPECT_FALSE(Socket.IsConnected);
    }
    EXPECT_EQ(Questions, GetParam().Questions);
}

INSTANTIATE_TEST_SUITE_P(Table, InvalidHostTest,
                         testing::Values(TInvalidHostCase{TCorrection::Unset, false, 0},
                                         TInvalidHostCase{TCorrection::Declines, false, 1},
                                         TInvalidHostCase{TCorrection::HandledButUnchanged, false, 1},
                                         TInvalidHostCase{TCorrection::FixesHost, true, 1}));

TEST_F(TDovrelTest, ResolveRemoteHostItselfReportsTheFailedLookUp) {
    TDovrel Socket(nullptr);
    Socket.Host = UnresolvableName;
    EXPECT_EQ(MessageOf<ESockError>([&] { Socket.ResolveRemoteHost(); }), "Host Lookup Failed");
    EXPECT_EQ(Socket.RemoteAddress.sin_addr.s_addr, 0u);
}

// Connect's failures: OnConnectionFailed fires before the error, and the flags tell which it was.
TEST_F(TDovrelTest, RefusedConnectFailsAfterOnConnectionFailed) {
    ClosedPort Closed;
    TDovrel Socket(nullptr);
    std::vector<std::string> Events;
    Socket.OnConnectionFailed = [&](TComponent* Sender) {
        EXPECT_EQ(Sender, &Socket);
        Events.push_back("failed");
    };
    Socket.OnError = [&](TComponent*, uint16_t, const std::string& Text) { Events.push_back(Text); };
    Socket.Host = "127.0.0.1";
    Socket.Port = Closed.Port();
    int ErrorNo = -1;
    try {
        Socket.Connect();
    } catch (const ESockError& E) {
        EXPECT_EQ(E.Message, "Connection Failed");
        ErrorNo = E.ErrorNo;
    }
    // The refusal's number comes with it: a peer's answer, not a shortage of this machine.
    EXPECT_EQ(ErrorNo, 10061);
    EXPECT_FALSE(IsLocalSocketError(ErrorNo));
    EXPECT_EQ(Events, (std::vector<std::string>{"failed"}));
    EXPECT_FALSE(Socket.LastEventOk);
    EXPECT_FALSE(Socket.IsConnected);
    EXPECT_FALSE(Socket.TimedOut);

    // Disconnect recovers the component: it connects again on a fresh socket.
    LoopbackPeer Peer(PeerScript().Hold());
    Socket.Disconnect();
    Socket.Port = Peer.Port();
    Socket.Connect();
    EXPECT_TRUE(Socket.IsConnected);
}

TEST_F(TDovrelTest, UnansweredConnectTimesOut) {
    UnansweredPort Unanswered;
    TDovrel Socket(nullptr);
    int Failed = 0;
    Socket.OnConnectionFailed = [&](TComponent*) { ++Failed; };
    Socket.Host = "127.0.0.1";
    Socket.Port = Unanswered.Port();
    Socket.TimeOut = 300;
    EXPECT_EQ(MessageOf<ESockError>([&] { Socket.Connect(); }), "Connection Timed out");
    EXPECT_EQ(Failed, 1);
    EXPECT_TRUE(Socket.TimedOut);
    // The time-out cancels through Abort, and the flag stays until the next operation reports it.
    EXPECT_TRUE(Socket.CancelRequested);
    EXPECT_FALSE(Socket.IsConnected);
}

TEST_F(TDovrelTest, UnansweredConnectWithoutTimeOutEndsByCancelFromAHandler) {
    UnansweredPort Unanswered;
    TDovrel Socket(nullptr);
    int Failed = 0;
    Socket.OnConnectionFailed = [&](TComponent*) { ++Failed; };
    Socket.Host = "127.0.0.1";
    Socket.Port = Unanswered.Port();
    TCancelLater Cancel(Socket, 100);
    EXPECT_EQ(MessageOf<ESockError>([&] { Socket.Connect(); }), "Connection Canceled");
    EXPECT_EQ(Cancel.Fired, 1);
    EXPECT_EQ(Failed, 1);
    EXPECT_FALSE(Socket.TimedOut);
    EXPECT_TRUE(Socket.CancelRequested);
}

TEST_F(TDovrelTest, ConnectClearsACancelLeftFromBefore) {
    LoopbackPeer Peer(PeerScript().Hold());
    TDovrel Socket(nullptr);
    Socket.Cancel();
    Socket.Host = "127.0.0.1";
    Socket.Port = Peer.Port();
    Socket.Connect();
    EXPECT_TRUE(Socket.IsConnected);
    EXPECT_FALSE(Socket.CancelRequested);
}

TEST_F(TDovrelTest, NegativeTimeOutIsARangeError) {
    TDovrel Socket(nullptr);
    Socket.TimeOut = -1;
    EXPECT_THROW(Socket.TimerOn(), ERangeError);
}

// ---- closing ----

TEST_F(TDovrelTest, DisconnectClosesFiresOnDisconnectAndOpensAFreshSocket) {
    LoopbackPeer Peer(PeerScript().Hold());
    TDovrel Socket(nullptr);
    int Disconnected = 0;
    Socket.OnDisconnect = [&](TComponent* Sender) {
        EXPECT_EQ(Sender, &Socket);
        ++Disconnected;
    };
    // On an unconnected component too.
    Socket.Disconnect();
    EXPECT_EQ(Disconnected, 1);
    EXPECT_NE(Socket.SocketHandle, NoSocket);

    Socket.Host = "127.0.0.1";
    Socket.Port = Peer.Port();
    Socket.Connect();
    Socket.Disconnect();
    EXPECT_EQ(Disconnected, 2);
    EXPECT_FALSE(Socket.IsConnected);
    EXPECT_TRUE(Peer.WaitClientClosed());
    EXPECT_NE(Socket.SocketHandle, NoSocket);
}

// This machine runs short of descriptors or buffers just when the component replaces its socket. The
// component is left without one; its next connect must open a new socket rather than fail with
// "Bad file number" for good, and while the shortage lasts the failure names it, so that a caller can
// tell it from a failure of the peer.
struct TShortageCase {
    const char* Name;
    int Errno;
    int Error;
    const char* Message;
};
void PrintTo(const TShortageCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class LocalShortageTest : public TDovrelTest, public testing::WithParamInterface<TShortageCase> {};

TEST_P(LocalShortageTest, AComponentLeftWithoutASocketOpensOneAtItsNextConnect) {
    const auto& Case = GetParam();
    LoopbackPeer Peer(std::vector<PeerScript>{PeerScript().Hold(), PeerScript().Hold()});
    TDovrel Socket(nullptr);
    Socket.Host = "127.0.0.1";
    Socket.Port = Peer.Port();
    Socket.Connect();
    int Reported = 0;
    Socket.OnError = [&](TComponent*, uint16_t Errno, const std::string&) { Reported = Errno; };

    struct TFailure {
        std::string Message;
        int ErrorNo = 0;
    };
    TFailure DuringShortage;
    TFailure NewComponent;
    bool Filtered = false;
    // The shortage lasts as long as this thread; the component is lent to it while this one waits.
    std::thread([&] {
        Filtered = FailSystemCallsOnThisThread({SYS_socket}, Case.Errno);
        if (!Filtered) return;
        Socket.Disconnect();
        try {
            Socket.Connect();
        } catch (const ESockError& Error) {
            DuringShortage = {Error.Message, Error.ErrorNo};
        }
        try {
            TDovrel Other(nullptr);
        } catch (const ESockError& Error) {
            NewComponent = {Error.Message, Error.ErrorNo};
        }
    }).join();
    if (!Filtered) GTEST_SKIP() << "the kernel refuses seccomp filters";

    EXPECT_EQ(Socket.SocketHandle, NoSocket);
    EXPECT_EQ(DuringShortage.Message, Case.Message);
    EXPECT_EQ(DuringShortage.ErrorNo, Case.Error);
    EXPECT_TRUE(IsLocalSocketError(DuringShortage.ErrorNo));
    EXPECT_EQ(Reported, Case.Error);
    EXPECT_EQ(NewComponent.Message, "Initializaton of windows sockets failed");
    EXPECT_EQ(NewComponent.ErrorNo, Case.Error);

    // Descriptors are there again.
    Socket.Connect();
    EXPECT_TRUE(Socket.IsConnected);
    EXPECT_NE(Socket.SocketHandle, NoSocket);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LocalShortageTest,
    testing::Values(TShortageCase{"ProcessOutOfDescriptors", EMFILE, 10024, "10024:Too many open files"},
                    TShortageCase{"SystemOutOfDescriptors", ENFILE, 10024, "10024:Too many open files"},
                    TShortageCase{"NoBufferSpace", ENOBUFS, 10055, "10055:No buffer space available"}),
    [](const testing::TestParamInfo<TShortageCase>& Info) { return std::string(Info.param.Name); });

TEST_F(TDovrelTest, PeerCloseWithNothingQueuedClosesTheComponent) {
    LoopbackPeer Peer(PeerScript().Close());
    TDovrel Socket(nullptr);
    int Disconnected = 0;
    Socket.OnDisconnect = [&](TComponent*) { ++Disconnected; };
    Socket.Host = "127.0.0.1";
    Socket.Port = Peer.Port();
    Socket.Connect();
    EXPECT_TRUE(PumpUntil([&] { return !Socket.IsConnected; }));
    EXPECT_EQ(Disconnected, 1);
    EXPECT_NE(Socket.SocketHandle, NoSocket);
}

TEST_F(TDovrelTest, PeerCloseWithBytesQueuedLeavesThemToBeRead) {
    TConnected Pair(PeerScript().Send("abc").Close());
    int Disconnected = 0;
    Pair.Socket.OnDisconnect = [&](TComponent*) { ++Disconnected; };
    ASSERT_TRUE(WaitForCloseWithBytesQueued(Pair.Socket));
    EXPECT_EQ(Disconnected, 0);
    EXPECT_EQ(Pair.Socket.Read(3), "abc");
    EXPECT_EQ(Pair.Socket.ReadLn(), "");
}

TEST_F(TDovrelTest, DestructionClosesTheConnectionWithoutTellingHandlers) {
    LoopbackPeer Peer(PeerScript().Hold());
    std::vector<std::string> Heard;
    {
        TDovrel Socket(nullptr);
        Socket.Host = "127.0.0.1";
        Socket.Port = Peer.Port();
        Socket.Connect();
        Socket.ReportLevel = 8;
        Socket.OnStatus = [&](TComponent*, const std::string& Status) { Heard.push_back(Status); };
        Socket.OnDisconnect = [&](TComponent*) { Heard.push_back("OnDisconnect"); };
    }
    EXPECT_TRUE(Heard.empty());
    EXPECT_TRUE(Peer.WaitClientClosed());
}

// ---- notifications ----

TEST_F(TDovrelTest, NotificationsChangeTheFlagsOnlyFromTheSocketMessageOn) {
    TDovrel Socket(nullptr);
    const platform::WPARAM Own = Socket.SocketHandle;
    auto Post = [&](platform::UINT Message, platform::WPARAM Which, uint16_t Event, uint16_t Error) {
        ASSERT_TRUE(platform::PostMessage(Socket.WindowHandle, Message, Which,
                                          platform::MakeSelectReply(Event, Error)));
        PumpUntil([] { return true; });
    };
    // Below the socket message the window's default answers.
    Post(SocketNotifyMessage - 1, Own, platform::FD_CONNECT, 10061);
    EXPECT_TRUE(Socket.LastEventOk);
    // A connect notification with an error only clears LastEventOk.
    Post(SocketNotifyMessage, Own, platform::FD_CONNECT, 10061);
    EXPECT_FALSE(Socket.LastEventOk);
    EXPECT_FALSE(Socket.IsConnected);
    // Messages above the look-up message still carry their error code into LastEventOk.
    Post(LookupDoneMessage + 1, 0, 0, 0);
    EXPECT_TRUE(Socket.LastEventOk);
    // A notification for a socket the component does not own changes nothing.
    Post(SocketNotifyMessage, Own + 1, platform::FD_CONNECT, 10061);
    EXPECT_TRUE(Socket.LastEventOk);
    Post(SocketNotifyMessage, Own, platform::FD_CONNECT, 0);
    EXPECT_TRUE(Socket.IsConnected);
}

TEST_F(TDovrelTest, FailingNotificationHandlersDoNotDisturbTheWait) {
    LoopbackPeer Peer(PeerScript().Send("line\r\n").Hold());
    TDovrel Socket(nullptr);
    Socket.OnConnect = [](TComponent*) { throw Exception("connect handler"); };
    Socket.OnDataReady = [](TComponent*) { throw Exception("data handler"); };
    Socket.Host = "127.0.0.1";
    Socket.Port = Peer.Port();
    Socket.Connect();
    EXPECT_TRUE(Socket.IsConnected);
    EXPECT_EQ(Socket.ReadLn(), "line\r\n");
}

// ---- status ----

struct TStatusCase {
    int32_t Level;
    std::vector<std::string> Heard;
};
void PrintTo(const TStatusCase& Case, std::ostream* Out) {
    *Out << "level " << Case.Level;
}

class StatusLevelTest : public TDovrelTest, public testing::WithParamInterface<TStatusCase> {};

TEST_P(StatusLevelTest, PassesTextsUpToTheReportLevel) {
    TConnected Pair(PeerScript().ReceiveUntil("NOOP\r\n").Send("200 Command okay\r\n").Hold());
    std::vector<std::string> Heard;
    Pair.Socket.OnStatus = [&](TComponent* Sender, const std::string& Status) {
        EXPECT_EQ(Sender, &Pair.Socket);
        Heard.push_back(Status);
    };
    Pair.Socket.ReportLevel = GetParam().Level;
    EXPECT_EQ(Pair.Socket.Transaction("NOOP"), "200 Command okay\r\n");
    Pair.Socket.Disconnect();
    EXPECT_EQ(Heard, GetParam().Heard);
    EXPECT_EQ(Pair.Socket.StatusText, Heard.empty() ? "" : Heard.back());
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusLevelTest,
    testing::Values(TStatusCase{0, {}}, TStatusCase{1, {"200 Command okay\r\n"}},
                    TStatusCase{4, {"Sending Buffer", "200 Command okay\r\n", "Request Close Socket"}},
                    TStatusCase{8,
                                {"Transaction", "Writeln", "Write", "Sending Buffer", "Timer On", "Timer Off",
                                 "ReadLn", "Timer On", "Timer Off", "200 Command okay\r\n", "Disconnecting",
                                 "Request Close Socket"}}));

TEST_F(TDovrelTest, AFailingStatusHandlerIsIgnored) {
    TDovrel Socket(nullptr);
    Socket.ReportLevel = 8;
    Socket.OnStatus = [](TComponent*, const std::string&) { throw Exception("status handler"); };
    Socket.Cancel();
    EXPECT_TRUE(Socket.CancelRequested);
    EXPECT_EQ(Socket.StatusText, "Canceling");
}

// ---- CertifyConnect ----

TEST_F(TDovrelTest, CertifyConnectGivesTheHandlerOneChance) {
    LoopbackPeer Peer(PeerScript().Hold());
    TDovrel Socket(nullptr);
    Socket.Host = "127.0.0.1";
    Socket.Port = Peer.Port();
    try {
        Socket.CertifyConnect();
        FAIL() << "no exception";
    } catch (const ESockError&) {
        FAIL() << "a socket error instead of the base exception";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message, "Not Connected");
    }

    int Asked = 0;
    Socket.OnConnectRequired = [&](bool& Handled) {
        ++Asked;
        Handled = true;
    };
    EXPECT_EQ(MessageOf<Exception>([&] { Socket.CertifyConnect(); }), "Not Connected");
    EXPECT_EQ(Asked, 1);

    Socket.OnConnectRequired = [&](bool& Handled) {
        ++Asked;
        Socket.Connect();
        Handled = true;
    };
    Socket.CertifyConnect();
    EXPECT_EQ(Asked, 2);
    EXPECT_TRUE(Socket.IsConnected);
    Socket.CertifyConnect();
    EXPECT_EQ(Asked, 2);
}

} // namespace
