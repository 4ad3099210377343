#include "net/TDovrel.h"

#include "net/TTimeoutScope.h"
#include "platform/Sockets.h"
#include "platform/Windows.h"

#include <algorithm>
#include <cstring>
#include <sys/socket.h>
#include <utility>

std::atomic<int> TDovrel::WinsockUsers{0};

namespace {

// Read, out-of-band, accept, connect and close; write readiness is never asked for.
constexpr long NotifyEvents =
    platform::FD_READ | platform::FD_OOB | platform::FD_ACCEPT | platform::FD_CONNECT | platform::FD_CLOSE;
constexpr uint16_t WinsockVersion = 0x0101;
constexpr int HostEntryBufferSize = 1024;

struct TWinsockMessage {
    int32_t No;
    const char* Text;
};

// Ascending by number; the last row is never matched because number 0 has no text.
constexpr TWinsockMessage WinsockMessage[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
    {0, "Unrecognized error code"},
};

std::string VersionText(uint16_t Version) {
    return std::to_string(Version >> 8) + "." + std::to_string(Version & 0xFF);
}

// A descriptor becomes a 16-bit handle; 65535 means none, so a descriptor that large cannot be one.
uint16_t ToSocketHandle(platform::SOCKET Socket) {
    if (Socket == platform::INVALID_SOCKET) return NoSocket;
    if (Socket < 0 || Socket >= NoSocket) {
        if (Socket >= 0) platform::closesocket(Socket);
        throw ERangeError("Socket handle " + std::to_string(Socket) + " out of range");
    }
    return static_cast<uint16_t>(Socket);
}

} // namespace

TDovrel::TDovrel(TComponent* AOwner) : TComponent(AOwner) {
    StatusMessage(8, "Create");
    WindowHandle = SocketAllocateHWnd(this);
    Proxy.clear();
    HostEntryBuffer = std::make_unique<char[]>(HostEntryBufferSize);
    // Owned in the component sense: the base destroys it, also when construction fails below.
    TimeoutTimer = new TThreadTimer(this);
    TimeoutTimer->SetEnabled(false);
    TimeoutTimer->SetOnTimer([this](TComponent* Sender) { TimerFired(Sender); });
    TimeOut = 0;
    WinsockInfo = std::make_unique<TStringList>();
    CancelRequested = false;
    ShuttingDown = false;
    IsConnected = false;
    try {
        InitWinsock();
    } catch (...) {
        // The destructor does not run for a failed construction; the window is the one thing the
        // members and the base do not release by themselves.
        platform::DestroyWindow(WindowHandle);
        throw;
    }
}

TDovrel::~TDovrel() {
    // Mark the state first, so that no handler hears of the component from here on.
    Destroying();
    StatusMessage(8, "Destroy");
    try {
        Abort();
    } catch (...) {
    }
    Cancel();
    // The window goes before anything it may write into: a serve thread destroys a connection instance
    // whose window lives on the GUI thread, where a look-up completion copies into HostEntryBuffer when
    // it is dispatched. Destroying the window waits for a dispatch in progress and drops the rest.
    platform::DestroyWindow(WindowHandle);
    WindowHandle = 0;
    WinsockInfo.reset();
    delete TimeoutTimer;
    TimeoutTimer = nullptr;
    HostEntryBuffer.reset();
    ShuttingDown = true;
    try {
        RequestCloseSocket();
    } catch (...) {
    }
    if (FStartedWinsock && --WinsockUsers == 0) platform::WSACleanup();
}

void TDovrel::InitWinsock() {
    StatusMessage(8, "Initializing Winsock");
    if (Designing()) return;
    try {
        if (++WinsockUsers == 1) {
            platform::WSAStartup(WinsockVersion, &WinsockData);
            WinsockInfo->Add("Version= " + VersionText(WinsockData.wVersion));
            WinsockInfo->Add("High Version= " + VersionText(WinsockData.wHighVersion));
            WinsockInfo->Add(std::string("Description= ") + WinsockData.szDescription);
            WinsockInfo->Add(std::string("System= ") + WinsockData.szSystemStatus);
            WinsockInfo->Add("Max Sockets= " + std::to_string(WinsockData.iMaxSockets));
            WinsockInfo->Add("Max Udp pack size= " + std::to_string(WinsockData.iMaxUdpDg));
        }
        try {
            OpenSocket(IPPROTO_TCP);
            if (SocketHandle == NoSocket) {
                std::string Text;
                ErrorManager(platform::WSAEWOULDBLOCK, Text);
            }
        } catch (...) {
            const uint16_t Handle = SocketHandle.exchange(NoSocket);
            if (Handle != NoSocket) platform::closesocket(Handle);
            if (--WinsockUsers == 0) platform::WSACleanup();
            throw;
        }
    } catch (const ESockError& E) {
        // The number tells a caller whether this machine ran out of something (10024, 10055).
        throw ESockError("Initializaton of windows sockets failed", E.ErrorNo);
    } catch (...) {
        throw ESockError("Initializaton of windows sockets failed");
    }
    FStartedWinsock = true;
}

void TDovrel::OpenSocket(int Protocol) {
    FPeerClosed = false;
    const uint16_t Handle = ToSocketHandle(platform::socket(AF_INET, SOCK_STREAM, Protocol));
    if (Handle == NoSocket) return;
    if (Protocol == IPPROTO_TCP) {
        // Closing drops the connection at once instead of lingering over unsent data.
        linger Linger{1, 0};
        platform::setsockopt(Handle, SOL_SOCKET, SO_LINGER, &Linger, sizeof Linger);
    }
    // A socket whose notifications do not arrive would make every wait on it last until its time-out;
    // the component is better off without one, and opens another at its next connect.
    if (platform::WSAAsyncSelect(Handle, WindowHandle, SocketNotifyMessage, NotifyEvents) ==
        platform::SOCKET_ERROR) {
        const int Error = platform::WSAGetLastError();
        platform::closesocket(Handle);
        platform::WSASetLastError(Error);
        return;
    }
    SocketHandle = Handle;
}

void TDovrel::EnsureSocket() {
    if (SocketHandle != NoSocket) return;
    OpenSocket(IPPROTO_TCP);
    if (SocketHandle != NoSocket) return;
    std::string Text;
    ErrorManager(platform::WSAEWOULDBLOCK, Text);
}

int TDovrel::SocketFd() const {
    uint16_t Handle = SocketHandle;
    return Handle == NoSocket ? -1 : Handle;
}

bool TDovrel::PumpUntil(const std::function<bool()>& Done, TWaitFor For, TClock::time_point Deadline) {
    bool DeadlineFired = false;
    for (;;) {
        if (Done()) return true;
        const TClock::time_point Now = TClock::now();
        if (Deadline <= Now) return false;
        if (!DeadlineFired && FDeadline <= Now) {
            // Once: the waits test CancelRequested, and one that did not must still block, not spin.
            DeadlineFired = true;
            TimerFired(this);
            continue;
        }
        const TClock::time_point Until = DeadlineFired ? Deadline : std::min(Deadline, FDeadline);
        int Limit = WaitSliceMs;
        if (Until != TClock::time_point::max())
            Limit = static_cast<int>(
                std::min<int64_t>(Limit, std::chrono::ceil<std::chrono::milliseconds>(Until - Now).count()));
        int Fd = For == TWaitFor::Messages ? -1 : SocketFd();
        short Events = static_cast<short>(For);
        if (FTls && Fd >= 0) {
            // Bytes TLS already decrypted (or an end it knows of) wait for no readiness of the socket;
            // and TLS may need the other direction of the socket than the caller's.
            if (For == TWaitFor::Readable && FTls->ReadyToRead()) Limit = 0;
            Events = FTls->WaitEvents(Events);
        }
        platform::WaitForWork(Limit, Fd, Fd < 0 ? 0 : Events);
        platform::ProcessMessages();
    }
}

void TDovrel::ResolveRemoteHost() {
    StatusMessage(8, "Resolve Host");
    const std::string& Name = Proxy.empty() ? Host : Proxy;
    if (Name.size() >= IoBuffer.size()) throw ERangeError("Host name longer than the transfer buffer");
    std::memcpy(IoBuffer.data(), Name.c_str(), Name.size() + 1);
    RemoteAddress.sin_addr.s_addr = platform::inet_addr(IoBuffer.data());
    if (RemoteAddress.sin_addr.s_addr != INADDR_NONE) return;

    RemoteAddress.sin_addr.s_addr = 0;
    {
        TTimeoutScope Timeout(*this);
        WaitDone = false;
        {
            std::lock_guard Guard(FLookupLock);
            FLookupHandle = platform::WSAAsyncGetHostByName(WindowHandle, LookupDoneMessage, IoBuffer.data(),
                                                            HostEntryBuffer.get(), HostEntryBufferSize);
        }
        PumpUntil([this] { return WaitDone || TimedOut || CancelRequested; }, TWaitFor::Messages);
    }
    uintptr_t Unanswered = 0;
    {
        std::lock_guard Guard(FLookupLock);
        Unanswered = std::exchange(FLookupHandle, 0);
    }
    // A look-up given up on (timed out, cancelled) must not answer later: its address would be taken for
    // the next name's, and its entry written over the next one's.
    if (Unanswered != 0) platform::WSACancelAsyncRequest(Unanswered);
    if (TimedOut) throw ESockError("Host Lookup Timed Out");
    if (CancelRequested) throw ESockError("Host Lookup Canceled");
    uint32_t Address = 0;
    if (!LastEventOk || !platform::HostEntryFirstAddress(HostEntryBuffer.get(), HostEntryBufferSize, Address))
        throw ESockError("Host Lookup Failed");
    RemoteAddress.sin_addr.s_addr = Address;
    if (OnHostResolved) OnHostResolved(this);
}

void TDovrel::Connect() {
    StatusMessage(8, "Connecting");
    CancelRequested = false;
    if (IsConnected) throw ESockError("Already connected");
    EnsureSocket();

    int Attempts = 0;
    for (;;) {
        try {
            ResolveRemoteHost();
        } catch (const ESockError& E) {
            if (E.Message == "Host Lookup Timed Out" || E.Message == "Host Lookup Canceled") throw;
            RemoteAddress.sin_addr.s_addr = 0;
        }
        if (RemoteAddress.sin_addr.s_addr != 0) break;
        if (Attempts > 0 || !OnInvalidHost) throw ESockError("Null Remote Address");
        bool Handled = false;
        OnInvalidHost(Handled);
        if (!Handled) throw ESockError("Null Remote Address");
        ++Attempts;
    }

    RemoteAddress.sin_family = AF_INET;
    int32_t RemotePort = Proxy.empty() ? Port : ProxyPort;
    RemoteAddress.sin_port = platform::htons(static_cast<uint16_t>(RemotePort & 0xFFFF));
    WaitDone = false;
    LastEventOk = true;
    FLastEventError = 0;
    if (platform::connect(SocketFd(), reinterpret_cast<const sockaddr*>(&RemoteAddress),
                          sizeof RemoteAddress) == platform::SOCKET_ERROR) {
        std::string Text;
        ErrorManager(platform::WSAEWOULDBLOCK, Text);
    }
    {
        TTimeoutScope Timeout(*this);
        PumpUntil([this] { return IsConnected || TimedOut || CancelRequested || !LastEventOk; },
                  TWaitFor::Writable);
    }
    if (!TimedOut && !CancelRequested && LastEventOk) return;
    if (OnConnectionFailed) OnConnectionFailed(this);
    if (TimedOut) throw ESockError("Connection Timed out");
    if (CancelRequested) throw ESockError("Connection Canceled");
    // The number tells a refusing peer (10061) from this machine's own shortage (10055).
    throw ESockError("Connection Failed", FLastEventError);
}

void TDovrel::Disconnect() {
    StatusMessage(8, "Disconnecting");
    RequestCloseSocket();
}

void TDovrel::RequestCloseSocket() {
    StatusMessage(4, "Request Close Socket");
    IsConnected = false;
    // Taken in one step, so that of two threads closing at once only one closes the descriptor. It is
    // released even when close reports an error, so its number must not be used again: it may soon
    // belong to something else.
    const uint16_t Handle = SocketHandle.exchange(NoSocket);
    if (Handle == NoSocket) return;
    if (FTls) {
        FTls->Shutdown();
        FTls.reset();
    }
    if (platform::closesocket(Handle) == platform::SOCKET_ERROR) {
        std::string Text;
        ErrorManager(platform::WSAEWOULDBLOCK, Text);
        return;
    }
    try {
        if (!IsDestroying() && OnDisconnect) OnDisconnect(this);
    } catch (...) {
        // The component keeps a usable socket even when the handler fails.
        if (!ShuttingDown) OpenSocket(0);
        throw;
    }
    if (!ShuttingDown) OpenSocket(0);
}

void TDovrel::CertifyConnect() {
    StatusMessage(8, "Checking Connection");
    int Attempts = 0;
    while (!IsConnected) {
        if (Attempts > 0 || !OnConnectRequired) throw Exception("Not Connected");
        bool Handled = false;
        OnConnectRequired(Handled);
        if (!Handled) throw Exception("Not Connected");
        ++Attempts;
    }
}

void TDovrel::Cancel() {
    StatusMessage(8, "Canceling");
    CancelRequested = true;
}

void TDovrel::Abort() {
    StatusMessage(8, "Abort");
    Cancel();
}

void TDovrel::Close(uint16_t Socket) {
    StatusMessage(8, "Closing Socket");
    platform::closesocket(Socket);
}

void TDovrel::StatusMessage(uint8_t Level, const std::string& Text) {
    try {
        if (Level > ReportLevel) return;
        {
            std::lock_guard Guard(FStatusLock);
            StatusText = Text;
        }
        // The handler gets its own copy: it may report again, and so change StatusText, while it reads.
        if (!IsDestroying() && OnStatus) OnStatus(this, std::string(Text));
    } catch (...) {
        // Reporting never disturbs the operation that reports.
    }
}

void TDovrel::ErrorManager(uint16_t Expected, std::string& Text) {
    int Err = platform::WSAGetLastError();
    LastErrorNo = Err;
    if (Err != Expected && Err > 10000) {
        std::string Message = SocketErrorStr(static_cast<uint16_t>(Err));
        if (OnError) OnError(this, static_cast<uint16_t>(Err), Message);
        throw ESockError(Message, Err);
    }
    Text.clear();
}

void TDovrel::SetWSAError(uint16_t Errno, std::string Text) {
    StatusMessage(8, "Setting Winsock Error");
    LastErrorNo = Errno;
    if (Text.empty()) Text = SocketErrorStr(Errno);
    platform::WSASetLastError(Errno);
    if (OnError) OnError(this, Errno, Text);
}

std::string TDovrel::SocketErrorStr(uint16_t Errno) {
    StatusMessage(8, "Looking Up Error Message");
    std::string Result;
    if (Errno == 0) return Result;
    for (const TWinsockMessage& Row : WinsockMessage)
        if (Row.No == Errno) Result = std::to_string(Errno) + ":" + Row.Text;
    if (Result.empty()) Result = "Unknown Error No. " + std::to_string(Errno);
    return Result;
}

int32_t TDovrel::GetLastErrorNo() {
    StatusMessage(8, "Getting LastError Number");
    return LastErrorNo;
}

void TDovrel::SetLastErrorNo(int32_t Value) {
    StatusMessage(8, "Setting LastError Number");
    LastErrorNo = Value;
}

std::string TDovrel::GetRemoteIP() {
    StatusMessage(8, "Getting Remote IP");
    return platform::inet_ntoa(RemoteAddress.sin_addr);
}

void TDovrel::ReportAbort(const char* Message) {
    if (!CancelRequested) return;
    CancelRequested = false;
    throw EAbortError(Message);
}

bool TDovrel::ReceiveFailureEnds() {
    LastErrorNo = platform::WSAGetLastError();
    if (LastErrorNo == platform::WSAENOTCONN) return true;
    std::string Text;
    ErrorManager(platform::WSAEWOULDBLOCK, Text);
    return false;
}
