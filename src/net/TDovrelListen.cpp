// The server side of TDovrel: listening on Port, accepting a waiting connection, and the texts that
// describe the local address.
#include "framework/Exceptions.h"
#include "net/LocalHost.h"
#include "net/TDovrel.h"

#include <algorithm>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

constexpr long ConnectionEvents =
    platform::FD_READ | platform::FD_OOB | platform::FD_ACCEPT | platform::FD_CONNECT | platform::FD_CLOSE;

// The system's largest backlog rather than 1: beyond the backlog a connection is not refused here but
// left half-open, so a client that arrives while others wait to be accepted would believe itself
// connected and never be served.
constexpr int ListenBacklog = SOMAXCONN;

sockaddr* AsSockaddr(sockaddr_in& Address) {
    return reinterpret_cast<sockaddr*>(&Address);
}

sockaddr_in LocalName(int Socket) {
    sockaddr_in Address{};
    int Length = sizeof Address;
    // A socket without a name (or no socket) leaves the zero address.
    platform::getsockname(Socket, AsSockaddr(Address), &Length);
    return Address;
}

// Raises the socket error of a failed bind or listen with its text, after OnError, as ErrorManager does
// for the other socket calls.
[[noreturn]] void RaiseListenError(TDovrel& Socket) {
    const int Error = platform::WSAGetLastError();
    Socket.LastErrorNo = Error;
    std::string Message = Socket.SocketErrorStr(static_cast<uint16_t>(Error));
    if (Message.empty()) Message = "Unknown Error No. " + std::to_string(Error);
    if (Socket.OnError) Socket.OnError(&Socket, static_cast<uint16_t>(Error), Message);
    throw ESockError(Message, Error);
}

} // namespace

void TDovrel::Listen(bool Waiting) {
    StatusMessage(8, "Listening");
    if (Port < 0 || Port > 65535) throw ERangeError("Port out of range (" + std::to_string(Port) + ")");
    EnsureSocket();
    RemoteAddress = sockaddr_in{};
    RemoteAddress.sin_family = AF_INET;
    RemoteAddress.sin_port = platform::htons(static_cast<uint16_t>(Port));
    RemoteAddress.sin_addr.s_addr = platform::inet_addr("0.0.0.0");
    WaitDone = false;

    // A listener that silently never sees a connection (port in use, no permission) is worse than an
    // error: bind and listen failures raise with the error's text.
    if (platform::bind(SocketFd(), AsSockaddr(RemoteAddress), sizeof RemoteAddress) == platform::SOCKET_ERROR)
        RaiseListenError(*this);
    platform::WSAAsyncSelect(SocketFd(), WindowHandle, Waiting ? LookupDoneMessage : SocketNotifyMessage,
                             platform::FD_ACCEPT);
    if (platform::listen(SocketFd(), ListenBacklog) == platform::SOCKET_ERROR) RaiseListenError(*this);
}

uint16_t TDovrel::Accept() {
    StatusMessage(4, "Accepting");
    // The flags are tested before any pumping: the server's accept handler sets WaitDone and calls
    // Accept from inside a dispatch, where no further notification may be dispatched.
    PumpUntil([this] { return WaitDone || CancelRequested; }, TWaitFor::Messages);
    if (CancelRequested) throw ESockError("Accepting Canceled");
    if (!LastEventOk) throw ESockError("Error creating Data Connection");

    sockaddr_in Peer{};
    int Length = sizeof Peer;
    const platform::SOCKET Accepted = platform::accept(SocketFd(), AsSockaddr(Peer), &Length);
    // 65535 is the "no socket" handle, so it cannot name a connection either.
    if (Accepted < 0 || Accepted >= NoSocket) {
        // Kept, so the accept handler can tell this machine's shortage (no descriptor left) from the rest.
        if (Accepted < 0) LastErrorNo = platform::WSAGetLastError();
        // A descriptor that does not fit the handle type would otherwise be lost with its connection.
        if (Accepted >= 0) platform::closesocket(Accepted);
        throw ERangeError("Socket handle " + std::to_string(Accepted) + " out of range");
    }
    // An accepted socket inherits the listening socket's abortive close (linger on, 0 seconds), which
    // would throw away what was written just before closing it; a connection ends after its last reply.
    linger Graceful{0, 0};
    platform::setsockopt(Accepted, SOL_SOCKET, SO_LINGER, &Graceful, sizeof Graceful);
    platform::WSAAsyncSelect(Accepted, WindowHandle, SocketNotifyMessage, ConnectionEvents);
    RemoteAddress = Peer;
    return static_cast<uint16_t>(Accepted);
}

std::string TDovrel::GetLocalIP() {
    StatusMessage(8, "Getting Local IP");
    char Name[200] = {};
    platform::gethostname(Name, sizeof Name);
    Name[sizeof Name - 1] = '\0';
    return LocalIPOf(Name, platform::gethostbyname);
}

std::string TDovrel::GetLocalAddress() {
    std::string Text = platform::inet_ntoa(LocalName(SocketFd()).sin_addr);
    std::replace(Text.begin(), Text.end(), '.', ',');
    return Text;
}

std::string TDovrel::GetPortString() {
    const unsigned LocalPort = platform::ntohs(LocalName(SocketFd()).sin_port);
    char Text[16];
    std::snprintf(Text, sizeof Text, ",%u,%u", LocalPort / 256, LocalPort % 256);
    return Text;
}
