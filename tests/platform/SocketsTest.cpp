#include "PumpHelpers.h"

#include "platform/Sockets.h"
#include "platform/UniqueFd.h"
#include "platform/Windows.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>

using namespace platform;
using namespace platformtest;

namespace {

constexpr UINT NotifyMessage = WM_USER + 101;
constexpr UINT LookupMessage = WM_USER + 102;
constexpr long AllButWrite = 0x3D;

sockaddr_in Loopback(uint16_t Port) {
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = ::htons(Port);
    Address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    return Address;
}

uint16_t LocalPort(int Fd) {
    sockaddr_in Address{};
    socklen_t Length = sizeof Address;
    ::getsockname(Fd, reinterpret_cast<sockaddr*>(&Address), &Length);
    return ::ntohs(Address.sin_port);
}

// A plain POSIX listener on an ephemeral loopback port: the far side of the connections under test.
struct PeerListener {
    PeerListener() : Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const auto Address = Loopback(0);
        EXPECT_EQ(::bind(Fd.Get(), reinterpret_cast<const sockaddr*>(&Address), sizeof Address), 0);
        EXPECT_EQ(::listen(Fd.Get(), 8), 0);
        Port = LocalPort(Fd.Get());
    }
    UniqueFd Accept() const { return UniqueFd(::accept4(Fd.Get(), nullptr, nullptr, SOCK_CLOEXEC)); }
    UniqueFd Fd;
    uint16_t Port = 0;
};

// A socket of the layer under test, closed through it.
struct TestSocket {
    TestSocket() : S(platform::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
    explicit TestSocket(SOCKET S) : S(S) {}
    TestSocket(const TestSocket&) = delete;
    TestSocket& operator=(const TestSocket&) = delete;
    ~TestSocket() {
        if (S != INVALID_SOCKET) closesocket(S);
    }
    SOCKET S;
};

struct Notice {
    SOCKET Socket;
    uint16_t Event;
    uint16_t Error;
};

std::vector<Notice> Notices(const RecordingWindow& Window) {
    std::vector<Notice> Result;
    for (const auto& M : Window.Messages)
        if (M.Message == NotifyMessage)
            Result.push_back({static_cast<SOCKET>(M.WParam), SelectEvent(M.LParam), SelectError(M.LParam)});
    return Result;
}

size_t CountEvents(const RecordingWindow& Window, uint16_t Event) {
    size_t N = 0;
    for (const auto& N1 : Notices(Window)) N += N1.Event == Event;
    return N;
}

// True when the thread's queue stayed without work for the whole of a short wait: the socket's condition
// was reported and is no longer watched, so nothing would spin on it.
bool QueueStaysQuiet() {
    ProcessMessages();
    const auto Before = Clock::now();
    WaitForWork(60);
    return Clock::now() - Before >= 50ms;
}

// Connects a selected socket of the layer to Peer and returns the peer's end.
UniqueFd ConnectSelected(const TestSocket& Socket, const RecordingWindow& Window, const PeerListener& Peer) {
    EXPECT_EQ(WSAAsyncSelect(Socket.S, Window.Handle, NotifyMessage, AllButWrite), 0);
    const auto Address = Loopback(Peer.Port);
    const int Result =
        platform::connect(Socket.S, reinterpret_cast<const sockaddr*>(&Address), sizeof Address);
    if (Result == SOCKET_ERROR) {
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    }
    EXPECT_TRUE(PumpUntil([&] { return CountEvents(Window, FD_CONNECT) == 1; }));
    return Peer.Accept();
}

} // namespace

TEST(SocketNotices, ConnectThenReadOnceUntilReceivedThenClose) {
    PeerListener Peer;
    RecordingWindow Window;
    TestSocket Socket;
    ASSERT_NE(Socket.S, INVALID_SOCKET);
    UniqueFd Far = ConnectSelected(Socket, Window, Peer);
    ASSERT_TRUE(Far);
    ASSERT_EQ(Notices(Window).size(), 1u);
    EXPECT_EQ(Notices(Window)[0].Socket, Socket.S);
    EXPECT_EQ(Notices(Window)[0].Error, 0);
    EXPECT_TRUE(QueueStaysQuiet()) << "a connected socket with nothing to read is not watched for anything";

    ASSERT_EQ(::send(Far.Get(), "hello", 5, 0), 5);
    pollfd Poll{QueueFd(), POLLIN, 0};
    EXPECT_EQ(::poll(&Poll, 1, 5000), 1) << "the queue descriptor reports the socket's readiness";
    ASSERT_TRUE(PumpUntil([&] { return CountEvents(Window, FD_READ) == 1; }));
    EXPECT_TRUE(QueueStaysQuiet());
    EXPECT_EQ(CountEvents(Window, FD_READ), 1u) << "read is posted once until the next recv";

    // A peek re-enables it, as does a receive on another thread (a serve thread reads while the GUI
    // thread owns the window).
    char Buffer[16];
    ASSERT_EQ(platform::recv(Socket.S, Buffer, sizeof Buffer, MSG_PEEK_FLAG), 5);
    ASSERT_TRUE(PumpUntil([&] { return CountEvents(Window, FD_READ) == 2; }));
    int Got = 0;
    std::thread([&] { Got = platform::recv(Socket.S, Buffer, sizeof Buffer, 0); }).join();
    EXPECT_EQ(std::string(Buffer, 5), "hello");
    EXPECT_EQ(Got, 5);
    EXPECT_TRUE(QueueStaysQuiet()) << "nothing left to read";
    EXPECT_EQ(platform::recv(Socket.S, Buffer, sizeof Buffer, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    Far.Reset();
    ASSERT_TRUE(PumpUntil([&] { return CountEvents(Window, FD_CLOSE) == 1; }));
    EXPECT_TRUE(QueueStaysQuiet()) << "a peer that has gone is reported once";
    EXPECT_EQ(CountEvents(Window, FD_READ), 2u) << "the end of the stream is no read event";
    EXPECT_EQ(Notices(Window).back().Error, 0);
    EXPECT_EQ(platform::recv(Socket.S, Buffer, sizeof Buffer, 0), 0);
}

TEST(SocketNotices, RefusedConnectReportsConnectErrorAndNoClose) {
    uint16_t Port;
    {
        PeerListener Closed; // takes a free port and gives it back
        Port = Closed.Port;
    }
    RecordingWindow Window;
    TestSocket Socket;
    ASSERT_EQ(WSAAsyncSelect(Socket.S, Window.Handle, NotifyMessage, AllButWrite), 0);
    EXPECT_TRUE(QueueStaysQuiet()) << "a fresh socket reports nothing";
    const auto Address = Loopback(Port);
    const int Result =
        platform::connect(Socket.S, reinterpret_cast<const sockaddr*>(&Address), sizeof Address);
    if (Result == SOCKET_ERROR) {
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    }
    ASSERT_TRUE(PumpUntil([&] { return CountEvents(Window, FD_CONNECT) == 1; }));
    EXPECT_TRUE(QueueStaysQuiet());
    ASSERT_EQ(Notices(Window).size(), 1u);
    EXPECT_EQ(Notices(Window)[0].Error, WSAECONNREFUSED);
}

TEST(SocketNotices, PeerCloseAndResetAreReportedOnceWithTheirErrors) {
    struct Case {
        const char* Name;
        bool Reset;
        uint16_t CloseError;
        int RecvResult;
        int RecvError;
    };
    const Case Cases[] = {
        {"graceful", false, 0, 0, 0},
        {"reset", true, WSAECONNRESET, SOCKET_ERROR, WSAECONNRESET},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        PeerListener Peer;
        RecordingWindow Window;
        TestSocket Socket;
        UniqueFd Far = ConnectSelected(Socket, Window, Peer);
        if (C.Reset) {
            const linger Abort{1, 0};
            ::setsockopt(Far.Get(), SOL_SOCKET, SO_LINGER, &Abort, sizeof Abort);
        }
        Far.Reset();
        ASSERT_TRUE(PumpUntil([&] { return CountEvents(Window, FD_CLOSE) == 1; }));
        EXPECT_EQ(Notices(Window).back().Error, C.CloseError);
        EXPECT_TRUE(QueueStaysQuiet());
        char Buffer[8];
        EXPECT_EQ(platform::recv(Socket.S, Buffer, sizeof Buffer, 0), C.RecvResult);
        if (C.RecvResult == SOCKET_ERROR) {
            EXPECT_EQ(WSAGetLastError(), C.RecvError);
        }

        // Sending into a connection the peer has ended fails with an error, never with SIGPIPE.
        int Sent = 0;
        const auto Deadline = Clock::now() + 5s;
        while ((Sent = platform::send(Socket.S, "x", 1, 0)) == 1 && Clock::now() < Deadline) {
            WaitForWork(10);
        }
        EXPECT_EQ(Sent, SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    }
}

// Linux answers a send on a socket that never got connected with the same EPIPE as one into a
// connection the peer has ended; only the latter is a reset.
TEST(SocketNotices, SendOnASocketThatNeverGotConnectedIsNotConnected) {
    uint16_t ClosedPort;
    {
        PeerListener Closed; // takes a free port and gives it back
        ClosedPort = Closed.Port;
    }
    for (const bool TriedToConnect : {false, true}) {
        SCOPED_TRACE(TriedToConnect ? "its connect was refused" : "fresh");
        RecordingWindow Window;
        TestSocket Socket;
        ASSERT_EQ(WSAAsyncSelect(Socket.S, Window.Handle, NotifyMessage, AllButWrite), 0);
        if (TriedToConnect) {
            const auto Address = Loopback(ClosedPort);
            platform::connect(Socket.S, reinterpret_cast<const sockaddr*>(&Address), sizeof Address);
            ASSERT_TRUE(PumpUntil([&] { return CountEvents(Window, FD_CONNECT) == 1; }));
        }
        EXPECT_EQ(platform::send(Socket.S, "x", 1, 0), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    }
}

TEST(SocketNotices, AcceptIsPostedOnceUntilTheNextAccept) {
    RecordingWindow Window;
    TestSocket Listener;
    const auto Any = Loopback(0);
    ASSERT_EQ(platform::bind(Listener.S, reinterpret_cast<const sockaddr*>(&Any), sizeof Any), 0);
    // Selected before listening, as the socket component does it.
    ASSERT_EQ(WSAAsyncSelect(Listener.S, Window.Handle, NotifyMessage, FD_ACCEPT), 0);
    ASSERT_EQ(platform::listen(Listener.S, 4), 0);
    sockaddr_in Local{};
    int LocalLength = sizeof Local;
    ASSERT_EQ(platform::getsockname(Listener.S, reinterpret_cast<sockaddr*>(&Local), &LocalLength), 0);
    EXPECT_TRUE(QueueStaysQuiet());

    sockaddr_in Accepted{};
    int Length = sizeof Accepted;
    EXPECT_EQ(platform::accept(Listener.S, reinterpret_cast<sockaddr*>(&Accepted), &Length), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    UniqueFd Clients[2];
    for (auto& Client : Clients) {
        Client.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        ASSERT_EQ(::connect(Client.Get(), reinterpret_cast<const sockaddr*>(&Local), sizeof Local), 0);
    }
    ASSERT_TRUE(PumpUntil([&] { return CountEvents(Window, FD_ACCEPT) == 1; }));
    EXPECT_TRUE(QueueStaysQuiet());
    EXPECT_EQ(CountEvents(Window, FD_ACCEPT), 1u);

    for (int I = 0; I < 2; ++I) {
        Length = sizeof Accepted;
        TestSocket Served(platform::accept(Listener.S, reinterpret_cast<sockaddr*>(&Accepted), &Length));
        ASSERT_NE(Served.S, INVALID_SOCKET);
        EXPECT_EQ(Length, static_cast<int>(sizeof Accepted));
        EXPECT_EQ(Accepted.sin_addr.s_addr, ::htonl(INADDR_LOOPBACK));
        EXPECT_EQ(::ntohs(Accepted.sin_port), LocalPort(Clients[I].Get()));
        if (I == 0) {
            ASSERT_TRUE(PumpUntil([&] { return CountEvents(Window, FD_ACCEPT) == 2; }));
        }
    }
    EXPECT_TRUE(QueueStaysQuiet());
    EXPECT_EQ(CountEvents(Window, FD_ACCEPT), 2u) << "re-enabled by the second accept, but nothing waits";
}

TEST(SocketNotices, ClosingASocketDropsItsQueuedNotices) {
    PeerListener Peer;
    SOCKET Replacement = INVALID_SOCKET;
    SOCKET Old = INVALID_SOCKET;
    constexpr UINT CloseNow = WM_USER + 1;
    RecordingWindow Window([&](RecordingWindow& W, const Received& M) {
        if (M.Message != CloseNow) return;
        // As the socket component does on a close: close and open a fresh socket, which usually gets the
        // same number. Notices of the old socket queued behind this message must not reach the new one.
        closesocket(Old);
        Replacement = platform::socket(AF_INET, SOCK_STREAM, 0);
        WSAAsyncSelect(Replacement, W.Handle, NotifyMessage, AllButWrite);
    });
    TestSocket Socket;
    Old = Socket.S;
    UniqueFd Far = ConnectSelected(Socket, Window, Peer);
    ASSERT_EQ(::send(Far.Get(), "data", 4, 0), 4);
    Far.Reset();
    pollfd Poll{QueueFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&Poll, 1, 5000), 1);
    PostMessage(Window.Handle, CloseNow, 0, 0); // queued ahead of the notices this pump collects
    ProcessMessages();
    Socket.S = Replacement;
    EXPECT_TRUE(QueueStaysQuiet());
    EXPECT_EQ(Notices(Window).size(), 1u) << "only the connect notice, from before the close";
    EXPECT_EQ(Window.Count(CloseNow), 1u);
}

TEST(SocketNotices, SelectRefusesWhatIsNoSocket) {
    RecordingWindow Window;
    int Pipe[2];
    ASSERT_EQ(::pipe(Pipe), 0);
    EXPECT_EQ(WSAAsyncSelect(Pipe[0], Window.Handle, NotifyMessage, FD_READ), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    ::close(Pipe[0]);
    ::close(Pipe[1]);
    EXPECT_EQ(platform::socket(AF_INET6, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
}

TEST(Lookup, CompletionCarriesTheEntryOrTheError) {
    struct Case {
        const char* Name;
        int BufferLength;
        uint16_t Error;
        uint32_t Address;
    };
    const Case Cases[] = {
        {"localhost", 1024, 0, ::htonl(INADDR_LOOPBACK)},
        {"127.0.0.9", 1024, 0, ::htonl(0x7F000009)},
        {"x.invalid", 1024, WSAHOST_NOT_FOUND, 0},
        {"localhost", 4, WSAENOBUFS, 0}, // no room for an address
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(std::string(C.Name) + " into " + std::to_string(C.BufferLength));
        RecordingWindow Window;
        std::vector<char> Buffer(C.BufferLength, '\x5A');
        const uintptr_t Handle =
            WSAAsyncGetHostByName(Window.Handle, LookupMessage, C.Name, Buffer.data(), C.BufferLength);
        ASSERT_NE(Handle, 0u);
        ASSERT_TRUE(PumpUntil([&] { return Window.Count(LookupMessage) == 1; }));
        const auto& Done = Window.Messages.back();
        EXPECT_EQ(Done.WParam, Handle);
        EXPECT_EQ(SelectError(Done.LParam), C.Error);
        uint32_t Address = 0;
        if (C.Error == 0) {
            EXPECT_EQ(SelectEvent(Done.LParam), sizeof(HostEntryHeader) + 4);
            ASSERT_TRUE(HostEntryFirstAddress(Buffer.data(), C.BufferLength, Address));
            EXPECT_EQ(Address, C.Address);
        } else {
            EXPECT_EQ(Buffer, std::vector<char>(C.BufferLength, '\x5A')) << "nothing written on failure";
        }
    }
}

TEST(Lookup, NoWriteOnceTheWindowIsGone) {
    auto Window = std::make_unique<RecordingWindow>();
    ProcessMessages();
    std::vector<char> Buffer(1024, '\x5A');
    ASSERT_NE(WSAAsyncGetHostByName(Window->Handle, LookupMessage, "localhost", Buffer.data(), 1024), 0u);
    // Wait until the completion is queued, then destroy the window before it is dispatched.
    pollfd Poll{QueueFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&Poll, 1, 5000), 1);
    Window.reset();
    ProcessMessages();
    EXPECT_EQ(Buffer, std::vector<char>(1024, '\x5A'));
}

// A look-up given up on never answers: no completion reaches the window and its buffer is never written,
// however late the worker finishes. One answered already cannot be cancelled.
TEST(Lookup, ACancelledLookUpNeverAnswers) {
    RecordingWindow Window;
    ProcessMessages();
    std::vector<char> Buffer(1024, '\x5A');
    const uintptr_t Cancelled =
        WSAAsyncGetHostByName(Window.Handle, LookupMessage, "localhost", Buffer.data(), 1024);
    ASSERT_NE(Cancelled, 0u);
    EXPECT_EQ(WSACancelAsyncRequest(Cancelled), 0);
    // The worker posts its completion all the same; the dispatch drops it.
    pollfd Poll{QueueFd(), POLLIN, 0};
    ::poll(&Poll, 1, 5000);
    ProcessMessages();
    EXPECT_EQ(Window.Count(LookupMessage), 0u);
    EXPECT_EQ(Buffer, std::vector<char>(1024, '\x5A'));
    EXPECT_EQ(WSACancelAsyncRequest(Cancelled), SOCKET_ERROR);

    const uintptr_t Answered =
        WSAAsyncGetHostByName(Window.Handle, LookupMessage, "localhost", Buffer.data(), 1024);
    ASSERT_TRUE(PumpUntil([&] { return Window.Count(LookupMessage) == 1; }));
    EXPECT_EQ(Window.Messages.back().WParam, Answered);
    EXPECT_EQ(WSACancelAsyncRequest(Answered), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

TEST(Lookup, BlockingLookupAndHostName) {
    uint32_t Address = 0;
    EXPECT_EQ(gethostbyname("localhost", Address), 0);
    EXPECT_EQ(Address, ::htonl(INADDR_LOOPBACK));
    EXPECT_EQ(gethostbyname("nothing.invalid", Address), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
    char Name[200];
    ASSERT_EQ(gethostname(Name, sizeof Name), 0);
    EXPECT_GT(std::strlen(Name), 0u);
    // The machine's own name is answered from its interfaces, without a name server.
    EXPECT_EQ(gethostbyname(Name, Address), 0);
}

TEST(Errors, ErrnoAndResolverCodesMapToWinsockNumbers) {
    const std::pair<int, int> ErrnoCases[] = {
        {0, 0},
        {EAGAIN, WSAEWOULDBLOCK},
        {EWOULDBLOCK, WSAEWOULDBLOCK},
        {EINPROGRESS, WSAEINPROGRESS},
        {ECONNREFUSED, WSAECONNREFUSED},
        {ECONNRESET, WSAECONNRESET},
        {EPIPE, WSAECONNRESET},
        {ETIMEDOUT, WSAETIMEDOUT},
        {ENOTSOCK, WSAENOTSOCK},
        {EADDRINUSE, WSAEADDRINUSE},
        {ENETUNREACH, WSAENETUNREACH},
        {EHOSTUNREACH, WSAEHOSTUNREACH},
        {EMFILE, WSAEMFILE},
        {EIO, WSAEINVAL}, // not in the table: still a failure above 10000
    };
    for (const auto& [Errno, Expected] : ErrnoCases) EXPECT_EQ(ErrorFromErrno(Errno), Expected) << Errno;
    const std::pair<int, int> ResolverCases[] = {
        {0, 0},
        {EAI_NONAME, WSAHOST_NOT_FOUND},
        {EAI_AGAIN, WSATRY_AGAIN},
        {EAI_FAIL, WSANO_RECOVERY},
        {EAI_NODATA, WSANO_DATA},
    };
    for (const auto& [Code, Expected] : ResolverCases) EXPECT_EQ(ErrorFromResolver(Code), Expected) << Code;
}

TEST(Addresses, DottedTextConversions) {
    const std::pair<const char*, uint32_t> Cases[] = {
        {"127.0.0.1", ::htonl(0x7F000001)}, {"10.1.2.3", ::htonl(0x0A010203)},
        {"255.255.255.255", INADDR_NONE},   {"256.1.1.1", INADDR_NONE},
        {"localhost", INADDR_NONE},         {"", INADDR_NONE},
    };
    for (const auto& [Text, Expected] : Cases) EXPECT_EQ(platform::inet_addr(Text), Expected) << Text;
    EXPECT_EQ(platform::inet_addr(nullptr), INADDR_NONE);
    in_addr Address{};
    Address.s_addr = ::htonl(0xC0A80005);
    EXPECT_EQ(platform::inet_ntoa(Address), "192.168.0.5");
    EXPECT_EQ(platform::htons(0x1234), ::htons(0x1234));
    EXPECT_EQ(platform::ntohs(platform::htons(1025)), 1025);
}

TEST(Startup, RecordDescribesThisLayerAndCleanupBalances) {
    WSADATA Data;
    ASSERT_EQ(WSAStartup(MakeWord(1, 1), &Data), 0);
    EXPECT_EQ(Data.wVersion, 0x0101);
    EXPECT_EQ(Data.wHighVersion, 0x0101);
    EXPECT_STREQ(Data.szDescription, "Vindral sockets on POSIX, IPv4 TCP with message notifications");
    EXPECT_STREQ(Data.szSystemStatus, "Running");
    EXPECT_GT(Data.iMaxSockets, 0);
    EXPECT_EQ(WSAStartup(MakeWord(2, 2), &Data), 0);
    EXPECT_EQ(Data.wVersion, 0x0101) << "a later version asked for gets the one there is";
    EXPECT_EQ(WSAStartup(MakeWord(1, 0), &Data), WSAVERNOTSUPPORTED);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    WSASetLastError(12345);
    EXPECT_EQ(WSAGetLastError(), 12345);
    int Other = 0;
    std::thread([&] { Other = WSAGetLastError(); }).join();
    EXPECT_EQ(Other, 0) << "the last error belongs to its thread";
}
