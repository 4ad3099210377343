#pragma once
// The sockets interface the socket layer is written against: Berkeley-style calls with message-driven
// notifications. Sockets are file descriptors; every failure sets the calling thread's last error to a
// number of the table below (mapped from errno or from the resolver).
#include "Windows.h"

#include <cstdint>
#include <netinet/in.h>
#include <string>

// glibc makes htons and ntohs macros in optimised builds, which would rename the declarations below; the
// real functions stay available, so the macros are dropped.
#undef htons
#undef ntohs

namespace platform {

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// Notification events: the low 16 bits of a notification's LParam.
constexpr long FD_READ = 1;
constexpr long FD_WRITE = 2;
constexpr long FD_OOB = 4;
constexpr long FD_ACCEPT = 8;
constexpr long FD_CONNECT = 16;
constexpr long FD_CLOSE = 32;

constexpr int MSG_PEEK_FLAG = 2;

constexpr uint16_t MakeWord(uint8_t Low, uint8_t High) {
    return static_cast<uint16_t>(Low | (High << 8));
}
constexpr LPARAM MakeSelectReply(uint16_t Event, uint16_t Error) {
    return static_cast<LPARAM>(static_cast<uint32_t>(Event) | (static_cast<uint32_t>(Error) << 16));
}
constexpr uint16_t SelectEvent(LPARAM LParam) {
    return static_cast<uint16_t>(LParam & 0xFFFF);
}
constexpr uint16_t SelectError(LPARAM LParam) {
    return static_cast<uint16_t>((LParam >> 16) & 0xFFFF);
}

// Error numbers.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// Maps an errno value / a getaddrinfo result to the numbers above.
int ErrorFromErrno(int Errno);
int ErrorFromResolver(int EaiCode);

// Start-up record.
struct WSADATA {
    uint16_t wVersion = 0;
    uint16_t wHighVersion = 0;
    char szDescription[257] = {};
    char szSystemStatus[129] = {};
    uint16_t iMaxSockets = 0;
    uint16_t iMaxUdpDg = 0;
    const char* lpVendorInfo = nullptr;
};

int WSAStartup(uint16_t VersionRequested, WSADATA* Data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int Error);

// A TCP stream socket of the Internet family (non-blocking once selected). Never raises SIGPIPE.
SOCKET socket(int Family, int Type, int Protocol);
int setsockopt(SOCKET S, int Level, int Name, const void* Value, int Length);
int closesocket(SOCKET S);

// Makes S non-blocking and posts the chosen events to Window as Message, with the socket in WParam and
// MakeSelectReply(event, error) in LParam. An event is posted once and re-enabled as follows: read by
// the next recv (peeking included), accept by the next accept; connect is posted once when a connect
// completes (its error is the socket's pending error); close once when the peer closes or resets a
// connected socket. A new call replaces the previous event set; a mask of 0 stops the notifications.
// Closing the socket drops its notifications still queued.
int WSAAsyncSelect(SOCKET S, HWND Window, UINT Message, long Events);

// Looks Name up (IPv4) on a background thread and posts Message to Window when done: WParam is the
// returned handle, LParam is MakeSelectReply(bytes of the entry, error). The entry is copied into
// Buffer on the window's thread when the message is dispatched, so the caller's storage is never
// written by the worker and never written at all when the window has gone.
uintptr_t WSAAsyncGetHostByName(HWND Window, UINT Message, const char* Name, char* Buffer, int BufferLength);
// Cancels the look-up Handle: its completion is never delivered and its buffer never written. 0, or
// SOCKET_ERROR with WSAEINVAL when the look-up has already been answered or is unknown.
int WSACancelAsyncRequest(uintptr_t Handle);

// The layout of a host entry in a look-up buffer: the addresses (network order) follow the header. Like
// any host entry it names the family and the length of its addresses, which also keeps an entry from
// being 8 bytes long: the completion carries the entry's length where a listener that waits for a
// connection posts event 8 on the same message, and the component cannot tell the two apart.
struct HostEntryHeader {
    uint16_t AddressType;   // AF_INET
    uint16_t AddressLength; // 4
    uint16_t AddressCount;
    uint16_t Reserved;
};
static_assert(sizeof(HostEntryHeader) + sizeof(uint32_t) > 8,
              "a host entry of one address must not be 8 bytes");
// First address of an entry written by WSAAsyncGetHostByName; false when it holds none.
bool HostEntryFirstAddress(const char* Buffer, int BufferLength, uint32_t& Address);

// Dotted text to address (network order); INADDR_NONE (all ones) when the text is not an address.
uint32_t inet_addr(const char* Text);
std::string inet_ntoa(in_addr Address);
uint16_t htons(uint16_t Value);
uint16_t ntohs(uint16_t Value);

int connect(SOCKET S, const sockaddr* Address, int Length);
int send(SOCKET S, const char* Buffer, int Length, int Flags);
int recv(SOCKET S, char* Buffer, int Length, int Flags);
int bind(SOCKET S, const sockaddr* Address, int Length);
int listen(SOCKET S, int Backlog);
SOCKET accept(SOCKET S, sockaddr* Address, int* Length);
int getsockname(SOCKET S, sockaddr* Address, int* Length);
int gethostname(char* Name, int Length);
// The first IPv4 address of Name (network order) into Address; SOCKET_ERROR with the last error set
// when the name cannot be looked up.
int gethostbyname(const char* Name, uint32_t& Address);

} // namespace platform
