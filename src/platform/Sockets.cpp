#include "platform/Sockets.h"

#include "platform/HostResolver.h"
#include "platform/LookupTable.h"
#include "platform/SocketTable.h"
#include "platform/WindowTable.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

thread_local int LastError = 0;

// How many WSAStartup calls have not yet been matched by WSACleanup.
std::atomic<int> StartupCount{0};
std::atomic<uintptr_t> NextLookupHandle{1};

int Fail(int Error) {
    LastError = Error;
    return SOCKET_ERROR;
}

int FailWithErrno() {
    return Fail(ErrorFromErrno(errno));
}

struct ErrnoRow {
    int Errno;
    int Error;
};

// EAGAIN and EWOULDBLOCK (and ENOTSUP and EOPNOTSUPP) are one number on Linux, but not everywhere.
constexpr ErrnoRow ErrnoTable[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAEBADF},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EAGAIN, WSAEWOULDBLOCK},
    {EWOULDBLOCK, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEINPROGRESS},
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {ENOTSUP, WSAEOPNOTSUPP},
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {EPROTO, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    // A send on a connection that is gone for writing. The program never shuts a direction down
    // itself, so the peer ended it: Winsock says reset there. (A socket that never was connected
    // answers a send with EPIPE too; send tells that case apart.)
    {EPIPE, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETOOMANYREFS, WSAETOOMANYREFS},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
    {ENOTEMPTY, WSAENOTEMPTY},
    {EUSERS, WSAEUSERS},
    {EDQUOT, WSAEDQUOT},
    {ESTALE, WSAESTALE},
    {EREMOTE, WSAEREMOTE},
};

// Winsock spells a few socket options differently; both spellings are taken.
constexpr int WinsockSolSocket = 0xFFFF;

bool TranslateOption(int& Level, int& Name) {
    if (Level != WinsockSolSocket) return true;
    Level = SOL_SOCKET;
    switch (Name) {
    case 0x0004:
        Name = SO_REUSEADDR;
        return true;
    case 0x0008:
        Name = SO_KEEPALIVE;
        return true;
    case 0x0080:
        Name = SO_LINGER;
        return true;
    case 0x1001:
        Name = SO_SNDBUF;
        return true;
    case 0x1002:
        Name = SO_RCVBUF;
        return true;
    default:
        return false;
    }
}

void CopyText(char* Target, size_t Capacity, const char* Text) {
    std::strncpy(Target, Text, Capacity - 1);
    Target[Capacity - 1] = '\0';
}

void PostLookupDone(HWND Window, UINT Message, uintptr_t Handle, std::shared_ptr<const LookupCompletion> Done,
                    LPARAM Reply) {
    const auto Entry = WindowTable::Instance().Find(Window);
    if (!Entry) {
        // The window went away during the look-up: nothing is written anywhere.
        LookupTable::Instance().Remove(Handle);
        return;
    }
    QueuedMessage Completion;
    Completion.Window = Window;
    Completion.Message = Message;
    Completion.WParam = Handle;
    Completion.LParam = Reply;
    Completion.Kind = MessageKind::LookupDone;
    Completion.Lookup = std::move(Done);
    Entry->Queue->Post(std::move(Completion));
}

} // namespace

int ErrorFromErrno(int Errno) {
    if (Errno == 0) return 0;
    for (const auto& Row : ErrnoTable)
        if (Row.Errno == Errno) return Row.Error;
    // Anything the table does not know is still a failure: a number above 10000, so the socket
    // component raises it rather than taking it for success.
    return WSAEINVAL;
}

int ErrorFromResolver(int EaiCode) {
    switch (EaiCode) {
    case 0:
        return 0;
    case EAI_NONAME:
        return WSAHOST_NOT_FOUND;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return WSANO_DATA;
#endif
    case EAI_AGAIN:
        return WSATRY_AGAIN;
    case EAI_FAIL:
        return WSANO_RECOVERY;
    case EAI_MEMORY:
        return WSAENOBUFS;
    case EAI_FAMILY:
        return WSAEAFNOSUPPORT;
    case EAI_SOCKTYPE:
        return WSAESOCKTNOSUPPORT;
    case EAI_SYSTEM:
        return ErrorFromErrno(errno);
    default:
        return WSANO_RECOVERY;
    }
}

int WSAStartup(uint16_t VersionRequested, WSADATA* Data) {
    // Version 1.1 is the only one offered: the message-driven interface of that version.
    const int Major = VersionRequested & 0xFF;
    const int Minor = VersionRequested >> 8;
    if (Major < 1 || (Major == 1 && Minor < 1)) return WSAVERNOTSUPPORTED;
    if (!Data) return WSAEFAULT;
    *Data = WSADATA{};
    Data->wVersion = MakeWord(1, 1);
    Data->wHighVersion = MakeWord(1, 1);
    CopyText(Data->szDescription, sizeof Data->szDescription,
             "Vindral sockets on POSIX, IPv4 TCP with message notifications");
    CopyText(Data->szSystemStatus, sizeof Data->szSystemStatus, "Running");
    rlimit Limit{};
    rlim_t MaxSockets = 0xFFFF;
    if (::getrlimit(RLIMIT_NOFILE, &Limit) == 0 && Limit.rlim_cur != RLIM_INFINITY)
        MaxSockets = std::min<rlim_t>(Limit.rlim_cur, 0xFFFF);
    Data->iMaxSockets = static_cast<uint16_t>(MaxSockets);
    // No datagram sockets are offered, so there is no datagram size to announce.
    Data->iMaxUdpDg = 0;
    Data->lpVendorInfo = nullptr;
    ++StartupCount;
    return 0;
}

int WSACleanup() {
    int Count = StartupCount.load();
    while (Count > 0 && !StartupCount.compare_exchange_weak(Count, Count - 1)) {
    }
    if (Count <= 0) return Fail(WSANOTINITIALISED);
    return 0;
}

int WSAGetLastError() {
    return LastError;
}

void WSASetLastError(int Error) {
    LastError = Error;
}

SOCKET socket(int Family, int Type, int Protocol) {
    if (Family != AF_INET) return Fail(WSAEAFNOSUPPORT);
    if (Type != SOCK_STREAM) return Fail(WSAESOCKTNOSUPPORT);
    if (Protocol != 0 && Protocol != IPPROTO_TCP) return Fail(WSAEPROTONOSUPPORT);
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, Protocol);
    if (Fd < 0) return FailWithErrno();
    SocketTable::Instance().Opened(Fd, SocketTable::SocketState::Idle);
    return Fd;
}

int setsockopt(SOCKET S, int Level, int Name, const void* Value, int Length) {
    if (Length < 0 || (Length > 0 && !Value)) return Fail(WSAEFAULT);
    if (!TranslateOption(Level, Name)) return Fail(WSAENOPROTOOPT);
    if (Level == SOL_SOCKET && Name == SO_LINGER && Length == 2 * sizeof(uint16_t)) {
        // Winsock's linger record holds two 16-bit fields.
        uint16_t Fields[2];
        std::memcpy(Fields, Value, sizeof Fields);
        const linger Linger{Fields[0], Fields[1]};
        if (::setsockopt(S, SOL_SOCKET, SO_LINGER, &Linger, sizeof Linger) != 0) return FailWithErrno();
        return 0;
    }
    if (::setsockopt(S, Level, Name, Value, static_cast<socklen_t>(Length)) != 0) return FailWithErrno();
    return 0;
}

int closesocket(SOCKET S) {
    const int Error = SocketTable::Instance().Close(S);
    if (Error == EBADF) return Fail(WSAENOTSOCK);
    if (Error != 0 && Error != EINTR) return Fail(ErrorFromErrno(Error)); // after EINTR the fd is gone
    return 0;
}

int WSAAsyncSelect(SOCKET S, HWND Window, UINT Message, long Events) {
    const int Error = SocketTable::Instance().Select(S, Window, Message, Events);
    if (Error == WSAEBADF) return Fail(WSAENOTSOCK);
    return Error ? Fail(Error) : 0;
}

uintptr_t WSAAsyncGetHostByName(HWND Window, UINT Message, const char* Name, char* Buffer, int BufferLength) {
    if (!Name || !Buffer || BufferLength <= 0) {
        Fail(WSAEFAULT);
        return 0;
    }
    if (!IsWindow(Window)) {
        Fail(WSAEINVAL);
        return 0;
    }
    const uintptr_t Handle = NextLookupHandle++;
    LookupTable::Instance().Started(Handle, Window);
    try {
        std::thread([Window, Message, Handle, Host = std::string(Name), Buffer, BufferLength] {
            try {
                // The worker touches only its own storage; the caller's buffer is written on the window's
                // thread when the completion is dispatched.
                const HostAddresses Found = ResolveHost(Host);
                auto Done = std::make_shared<LookupCompletion>();
                Done->Buffer = Buffer;
                int Error = Found.Error;
                size_t Bytes = 0;
                if (Error == 0) {
                    Done->Entry = BuildHostEntry(Found.Addresses, BufferLength);
                    if (Done->Entry.empty()) {
                        Error = WSAENOBUFS; // the buffer cannot hold even one address
                        Bytes = sizeof(HostEntryHeader) + sizeof(uint32_t);
                    } else {
                        Bytes = Done->Entry.size();
                    }
                }
                PostLookupDone(Window, Message, Handle, std::move(Done),
                               MakeSelectReply(static_cast<uint16_t>(Bytes), static_cast<uint16_t>(Error)));
            } catch (...) {
                // Out of memory on the worker: the look-up never completes, like one the window outlived.
                LookupTable::Instance().Remove(Handle);
            }
        }).detach();
    } catch (const std::system_error&) {
        LookupTable::Instance().Remove(Handle);
        Fail(WSAENOBUFS);
        return 0;
    }
    return Handle;
}

int WSACancelAsyncRequest(uintptr_t Handle) {
    // Answered already (its completion has been dispatched) or never started.
    if (!LookupTable::Instance().Remove(Handle)) return Fail(WSAEINVAL);
    return 0;
}

bool HostEntryFirstAddress(const char* Buffer, int BufferLength, uint32_t& Address) {
    if (!Buffer || BufferLength < static_cast<int>(sizeof(HostEntryHeader) + sizeof(uint32_t))) return false;
    HostEntryHeader Header;
    std::memcpy(&Header, Buffer, sizeof Header);
    if (Header.AddressCount == 0) return false;
    std::memcpy(&Address, Buffer + sizeof Header, sizeof Address);
    return true;
}

uint32_t inet_addr(const char* Text) {
    in_addr Address{};
    if (!Text || ::inet_aton(Text, &Address) == 0) return INADDR_NONE;
    return Address.s_addr;
}

std::string inet_ntoa(in_addr Address) {
    char Text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &Address, Text, sizeof Text);
    return Text;
}

uint16_t htons(uint16_t Value) {
    return ::htons(Value);
}

uint16_t ntohs(uint16_t Value) {
    return ::ntohs(Value);
}

int connect(SOCKET S, const sockaddr* Address, int Length) {
    if (!Address || Length < 0) return Fail(WSAEFAULT);
    if (::connect(S, Address, static_cast<socklen_t>(Length)) == 0) {
        // Completion is still announced by the connect event, as it is for a connect that has to wait.
        SocketTable::Instance().ConnectStarted(S);
        return 0;
    }
    const int Error = errno;
    if (Error == EINPROGRESS || Error == EAGAIN) {
        SocketTable::Instance().ConnectStarted(S);
        return Fail(WSAEWOULDBLOCK); // Winsock's answer for a non-blocking connect under way
    }
    return Fail(ErrorFromErrno(Error));
}

int send(SOCKET S, const char* Buffer, int Length, int Flags) {
    if (Length < 0 || (Length > 0 && !Buffer)) return Fail(WSAEFAULT);
    const ssize_t Sent =
        ::send(S, Buffer, static_cast<size_t>(Length), MSG_NOSIGNAL | (Flags & (MSG_OOB | MSG_DONTROUTE)));
    if (Sent >= 0) return static_cast<int>(Sent);
    const int Error = errno;
    if (Error == EAGAIN || Error == EWOULDBLOCK) {
        SocketTable::Instance().SendBlocked(S);
        return Fail(WSAEWOULDBLOCK);
    }
    const int Kept = SocketTable::Instance().TakeError(S, false);
    if (Kept) return Fail(ErrorFromErrno(Kept));
    // Linux answers a send on a socket that never was connected (or whose connect failed) with EPIPE,
    // as it does one on a connection the peer has ended; only the latter is a reset.
    if (Error == EPIPE && SocketTable::Instance().NeverConnected(S)) return Fail(WSAENOTCONN);
    return Fail(ErrorFromErrno(Error));
}

int recv(SOCKET S, char* Buffer, int Length, int Flags) {
    if (Length < 0 || (Length > 0 && !Buffer)) return Fail(WSAEFAULT);
    const bool Peek = Flags & MSG_PEEK_FLAG;
    const ssize_t Received = ::recv(S, Buffer, static_cast<size_t>(Length), Flags & (MSG_PEEK | MSG_OOB));
    const int Error = errno;
    // Any receive, peeking or failing included, re-enables the read notification.
    SocketTable::Instance().Received(S);
    if (Received > 0 || (Received == 0 && Length == 0)) return static_cast<int>(Received);
    if (Received < 0 && (Error == EAGAIN || Error == EWOULDBLOCK)) return Fail(WSAEWOULDBLOCK);
    if (const int Kept = SocketTable::Instance().TakeError(S, Peek)) return Fail(ErrorFromErrno(Kept));
    if (Received == 0) return 0;
    return Fail(ErrorFromErrno(Error));
}

int bind(SOCKET S, const sockaddr* Address, int Length) {
    if (!Address || Length < 0) return Fail(WSAEFAULT);
    if (::bind(S, Address, static_cast<socklen_t>(Length)) != 0) return FailWithErrno();
    return 0;
}

int listen(SOCKET S, int Backlog) {
    if (::listen(S, Backlog) != 0) return FailWithErrno();
    SocketTable::Instance().ListenStarted(S);
    return 0;
}

SOCKET accept(SOCKET S, sockaddr* Address, int* Length) {
    socklen_t Size = Length ? static_cast<socklen_t>(std::max(*Length, 0)) : 0;
    const int Fd = ::accept4(S, Length ? Address : nullptr, Length ? &Size : nullptr, SOCK_CLOEXEC);
    const int Error = errno;
    SocketTable::Instance().Accepted(S);
    if (Fd < 0) return Fail(ErrorFromErrno(Error));
    if (Length) *Length = static_cast<int>(Size);
    SocketTable::Instance().Opened(Fd, SocketTable::SocketState::Connected);
    return Fd;
}

int getsockname(SOCKET S, sockaddr* Address, int* Length) {
    if (!Address || !Length || *Length < 0) return Fail(WSAEFAULT);
    socklen_t Size = static_cast<socklen_t>(*Length);
    if (::getsockname(S, Address, &Size) != 0) return FailWithErrno();
    *Length = static_cast<int>(Size);
    return 0;
}

int gethostname(char* Name, int Length) {
    if (!Name || Length <= 0) return Fail(WSAEFAULT);
    if (::gethostname(Name, static_cast<size_t>(Length)) != 0) {
        return Fail(errno == ENAMETOOLONG ? WSAEFAULT : ErrorFromErrno(errno));
    }
    Name[Length - 1] = '\0';
    return 0;
}

int gethostbyname(const char* Name, uint32_t& Address) {
    if (!Name) return Fail(WSAEFAULT);
    const HostAddresses Found = ResolveHost(Name);
    if (Found.Error != 0) return Fail(Found.Error);
    Address = Found.Addresses.front();
    return 0;
}

} // namespace platform
