// Listening and accepting of the socket component, and the local address texts.
#include "ServerTestPeers.h"

#include "net/LocalHost.h"
#include "net/TDovrel.h"
#include "platform/Sockets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <thread>
#include <vector>

using namespace servertest;

namespace {

// A listener on a port of the system's choice, with the texts it reports.
struct TListener {
    explicit TListener(int32_t Level = 0) {
        Socket.Port = 0;
        Socket.ReportLevel = Level;
        Socket.OnStatus = [this](TComponent*, const std::string& Text) { Statuses.push_back(Text); };
    }
    uint16_t Port() const { return BoundPort(Socket); }

    TDovrel Socket{nullptr};
    std::vector<std::string> Statuses;
};

// Connects from a thread of its own, so that the test thread can wait in Accept; reads one line.
struct TClientThread {
    explicit TClientThread(uint16_t Port)
        : Thread([this, Port] {
              TLoopbackClient Client(Port);
              LocalPort = Client.LocalPort();
              Line = Client.ReadLine();
          }) {}
    ~TClientThread() {
        if (Thread.joinable()) Thread.join();
    }
    void Join() { Thread.join(); }

    uint16_t LocalPort = 0;
    std::string Line;
    std::thread Thread;
};

void SendText(uint16_t Socket, const std::string& Text) {
    ASSERT_EQ(platform::send(Socket, Text.data(), static_cast<int>(Text.size()), 0),
              static_cast<int>(Text.size()));
}

std::vector<std::string> Only(const std::vector<std::string>& Texts, const std::vector<std::string>& Wanted) {
    std::vector<std::string> Result;
    for (const std::string& Text : Texts)
        if (std::find(Wanted.begin(), Wanted.end(), Text) != Wanted.end()) Result.push_back(Text);
    return Result;
}

} // namespace

TEST(ListenTest, PortZeroListensOnAPortOfTheSystemsChoiceThatGetPortStringSpells) {
    TListener Listener;
    Listener.Socket.Listen(false);

    const uint16_t Port = Listener.Port();
    ASSERT_NE(Port, 0);
    EXPECT_EQ(Listener.Socket.GetPortString(),
              "," + std::to_string(Port / 256) + "," + std::to_string(Port % 256));
    EXPECT_EQ(Listener.Socket.GetLocalAddress(), "0,0,0,0");
    TLoopbackClient Client(Port);
    EXPECT_TRUE(Client.Connected());
}

TEST(ListenTest, GetLocalAddressOfAConnectedSocketIsItsLoopbackAddress) {
    TListener Listener;
    Listener.Socket.Listen(true);
    TDovrel Caller(nullptr);
    Caller.Host = "127.0.0.1";
    Caller.Port = Listener.Port();
    Caller.Connect();

    EXPECT_EQ(Caller.GetLocalAddress(), "127,0,0,1");
    const uint16_t Local = BoundPort(Caller);
    EXPECT_EQ(Caller.GetPortString(), "," + std::to_string(Local / 256) + "," + std::to_string(Local % 256));
}

struct TAcceptLevelCase {
    int32_t ReportLevel;
    std::vector<std::string> Reported;
};

void PrintTo(const TAcceptLevelCase& Case, std::ostream* Out) {
    *Out << "ReportLevel " << Case.ReportLevel;
}

class WaitingAcceptTest : public testing::TestWithParam<TAcceptLevelCase> {};

TEST_P(WaitingAcceptTest, ReturnsTheClientsConnectionAndAddress) {
    TListener Listener(GetParam().ReportLevel);
    Listener.Socket.Listen(true);
    TClientThread Client(Listener.Port());

    const uint16_t Accepted = Listener.Socket.Accept();
    SendText(Accepted, "WELCOME\r\n");
    Client.Join();

    EXPECT_EQ(Client.Line, "WELCOME\r\n");
    EXPECT_TRUE(Listener.Socket.IsConnected);
    EXPECT_EQ(Listener.Socket.GetRemoteIP(), "127.0.0.1");
    EXPECT_EQ(platform::ntohs(Listener.Socket.RemoteAddress.sin_port), Client.LocalPort);
    EXPECT_EQ(Only(Listener.Statuses, {"Listening", "Accepting"}), GetParam().Reported);
    Listener.Socket.Close(Accepted);
}

INSTANTIATE_TEST_SUITE_P(ListenTest, WaitingAcceptTest,
                         testing::Values(TAcceptLevelCase{8, {"Listening", "Accepting"}},
                                         TAcceptLevelCase{4, {"Accepting"}}, TAcceptLevelCase{0, {}}),
                         [](const testing::TestParamInfo<TAcceptLevelCase>& Info) {
                             return "ReportLevel" + std::to_string(Info.param.ReportLevel);
                         });

TEST(ListenTest, EventModeAcceptWaitsUntilTheAcceptHandlerSetsWaitDone) {
    TListener Listener;
    std::vector<TComponent*> Senders;
    Listener.Socket.OnAcceptReady = [&](TComponent* Sender) {
        Senders.push_back(Sender);
        Listener.Socket.WaitDone = true;
    };
    Listener.Socket.Listen(false);
    TClientThread Client(Listener.Port());

    const uint16_t Accepted = Listener.Socket.Accept();
    SendText(Accepted, "EVENT\r\n");
    Client.Join();

    EXPECT_EQ(Client.Line, "EVENT\r\n");
    EXPECT_EQ(Senders, std::vector<TComponent*>{&Listener.Socket});
    EXPECT_EQ(platform::ntohs(Listener.Socket.RemoteAddress.sin_port), Client.LocalPort);
    Listener.Socket.Close(Accepted);
}

TEST(ListenTest, AcceptCancelledByAHandlerRaisesAcceptingCanceledAndKeepsTheFlag) {
    TListener Listener;
    Listener.Socket.OnAcceptReady = [&](TComponent*) { Listener.Socket.Cancel(); };
    Listener.Socket.Listen(false);
    TLoopbackClient Client(Listener.Port());

    try {
        Listener.Socket.Accept();
        FAIL() << "Accept returned";
    } catch (const ESockError& E) {
        EXPECT_EQ(E.Message, "Accepting Canceled");
    }
    EXPECT_TRUE(Listener.Socket.CancelRequested);
}

TEST(ListenTest, AcceptNotificationWithAnErrorRaisesErrorCreatingDataConnection) {
    TListener Listener;
    Listener.Socket.Listen(true);
    platform::PostMessage(Listener.Socket.WindowHandle, LookupDoneMessage, Listener.Socket.SocketHandle,
                          platform::MakeSelectReply(platform::FD_ACCEPT, platform::WSAECONNABORTED));

    try {
        Listener.Socket.Accept();
        FAIL() << "Accept returned";
    } catch (const ESockError& E) {
        EXPECT_EQ(E.Message, "Error creating Data Connection");
    }
}

TEST(ListenTest, PortInUseRaisesTheSocketErrorTextAfterOnError) {
    TListener First;
    First.Socket.Listen(false);
    TDovrel Second(nullptr);
    Second.Port = First.Port();
    std::vector<uint16_t> Errors;
    Second.OnError = [&](TComponent*, uint16_t Errno, const std::string&) { Errors.push_back(Errno); };

    try {
        Second.Listen(false);
        FAIL() << "Listen returned";
    } catch (const ESockError& E) {
        EXPECT_EQ(E.Message, "10048:Address already in use");
    }
    EXPECT_EQ(Errors, std::vector<uint16_t>{10048});
    EXPECT_EQ(Second.LastErrorNo, 10048);
    // The first listener is untouched.
    TLoopbackClient Client(First.Port());
    EXPECT_TRUE(Client.Connected());
}

TEST(ListenTest, PortOutsideSixteenBitsIsARangeError) {
    for (int32_t Port : {65536, -1}) {
        SCOPED_TRACE(Port);
        TDovrel Socket(nullptr);
        Socket.Port = Port;
        EXPECT_THROW(Socket.Listen(false), ERangeError);
    }
}

namespace {

int LookupFound(const char*, uint32_t& Address) {
    const unsigned char Bytes[4] = {203, 0, 113, 250};
    std::memcpy(&Address, Bytes, sizeof Address);
    return 0;
}

int LookupFails(const char*, uint32_t&) {
    platform::WSASetLastError(platform::WSAHOST_NOT_FOUND);
    return platform::SOCKET_ERROR;
}

// The IPv4 addresses of the interfaces that are up, in dotted form.
std::vector<std::string> InterfaceAddresses() {
    std::vector<std::string> Result;
    ifaddrs* List = nullptr;
    if (::getifaddrs(&List) != 0) return Result;
    for (const ifaddrs* It = List; It; It = It->ifa_next) {
        if (!It->ifa_addr || It->ifa_addr->sa_family != AF_INET || !(It->ifa_flags & IFF_UP)) continue;
        char Text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(It->ifa_addr)->sin_addr, Text,
                    sizeof Text);
        Result.push_back(Text);
    }
    ::freeifaddrs(List);
    return Result;
}

} // namespace

TEST(LocalIPTest, FirstAddressInDottedFormOrTheUnknownAddressWhenTheLookUpFails) {
    EXPECT_EQ(LocalIPOf("host", LookupFound), "203.0.113.250");
    EXPECT_EQ(LocalIPOf("host", LookupFails), "0.0.0.0");
}

// The local host's own name stands for the machine's interfaces; it is never asked of a name server.
TEST(LocalIPTest, GetLocalIPGivesAnAddressOfThisMachine) {
    TListener Socket(8);
    const std::string Address = Socket.Socket.GetLocalIP();

    const std::vector<std::string> Own = InterfaceAddresses();
    EXPECT_NE(std::find(Own.begin(), Own.end(), Address), Own.end()) << Address;
    EXPECT_EQ(Socket.Statuses, std::vector<std::string>{"Getting Local IP"});
}
