#pragma once
// One TCP connection with blocking operations that keep the calling thread's message queue serviced
// while they wait: name look-up, connect with time-out, status and error reporting, line and stream
// transfers, listening and accepting.
#include "framework/Events.h"
#include "framework/TComponent.h"
#include "framework/TStringList.h"
#include "net/SocketErrors.h"
#include "net/TThreadTimer.h"
#include "net/TTlsChannel.h"
#include "platform/Sockets.h"
#include "platform/Windows.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <thread>

class TStream;
class TFileStream;

using TOnHostResolved = std::function<void(TComponent* Sender)>;
using TOnStatus = std::function<void(TComponent* Sender, const std::string& Status)>;
using TOnErrorEvent = std::function<void(TComponent* Sender, uint16_t Errno, const std::string& Errmsg)>;

// A window message as the notification handler sees it.
struct TMessage {
    platform::UINT Msg = 0;
    platform::WPARAM WParam = 0;
    platform::LPARAM LParam = 0;
    platform::LRESULT Result = 0;
};

constexpr platform::UINT SocketNotifyMessage = platform::WM_USER + 101; // 1125
constexpr platform::UINT LookupDoneMessage = platform::WM_USER + 102;   // 1126
constexpr uint16_t NoSocket = 65535;
constexpr int IoBufferSize = 65536;

class TDovrel : public TComponent {
public:
    explicit TDovrel(TComponent* AOwner);
    ~TDovrel() override;

    // Connection.
    void InitWinsock();
    void ResolveRemoteHost();
    virtual uint16_t Accept();
    virtual void Connect();
    virtual void Disconnect();
    void CertifyConnect();
    void Cancel();
    virtual void Abort();
    void RequestCloseSocket();
    void Close(uint16_t Socket);

    // Status and errors.
    void StatusMessage(uint8_t Level, const std::string& Text);
    void ErrorManager(uint16_t Expected, std::string& Text);
    void SetWSAError(uint16_t Errno, std::string Text);
    std::string SocketErrorStr(uint16_t Errno);
    int32_t GetLastErrorNo();
    void SetLastErrorNo(int32_t Value);
    std::string GetRemoteIP();

    // Transfers. Texts are sent whole, zero bytes included, whatever their length.
    void SendBuffer(const char* Data, size_t Length);
    void Write(const std::string& Text);
    void Writeln(const std::string& Text);
    std::string Read(uint16_t Count);
    std::string ReadLn();
    virtual std::string Transaction(const std::string& Text);
    void SendFile(const std::string& FileName);
    void SendStream(TStream& Stream);
    void AppendFile(const std::string& FileName);
    // Size other than -1: stops once the file holds Size bytes or more (whole chunks are written), as
    // CaptureString does with its text.
    void CaptureFile(const std::string& FileName, int64_t Size = -1);
    void CaptureStream(TStream& Stream, int32_t Size);
    void CaptureString(std::string& Text, int32_t Size);
    // Receive exactly Count bytes, never more, into a created (emptied) file / appended to Text; a peer
    // that closes first raises ESockError. Time-out and abort as CaptureFile / CaptureString.
    void CaptureFileCount(const std::string& FileName, int64_t Count);
    void CaptureStringCount(std::string& Text, int64_t Count);
    void FilterHeader(TFileStream& Stream);
    bool DataAvailable();
    void ClearInput();

    // TLS on the connected socket: the handshake with ServerName (sent, and checked against the
    // certificate, whose chain must lead to an authority Context trusts), under the time-out and open to
    // Cancel; afterwards every transfer above carries the decrypted stream, until the socket is closed.
    // Raises ESockError naming the cause: "TLS Handshake Timed out", "TLS Handshake Canceled", the
    // certificate's or the handshake's failure, the peer's close, a socket error.
    void StartTls(TTlsContext& Context, const std::string& ServerName);
    bool TlsActive() const { return FTls != nullptr; }

    // Listening.
    void Listen(bool Waiting);
    std::string GetLocalIP();
    std::string GetLocalAddress();
    std::string GetPortString();

    // Notifications and time-out.
    void Wndproc(TMessage& Message);
    void TimerOn();
    void TimerOff();
    void TimerFired(TComponent* Sender);

    // State, in declaration order.
    std::array<char, IoBufferSize> IoBuffer{};
    TNotifyEvent OnDataReady;
    TNotifyEvent OnAcceptReady;
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    TOnErrorEvent OnError;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    THandlerEvent OnConnectRequired;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;
    std::unique_ptr<TStringList> WinsockInfo;
    int32_t SentCount = 0;
    // Flags that a notification (possibly dispatched on another thread) sets and a wait polls.
    std::atomic<bool> CancelRequested{false};
    std::atomic<bool> ShuttingDown{false};
    int32_t LastErrorNo = 0;
    int32_t TimeOut = 0;
    int32_t ReportLevel = 0;
    std::string StatusText;
    std::string Proxy;
    int32_t ProxyPort = 0;
    TThreadTimer* TimeoutTimer = nullptr; // owned as a component
    std::atomic<bool> LastEventOk{true};
    std::atomic<bool> TimedOut{false};
    int32_t Port = 0;
    int32_t TransferTotal = 0;
    int32_t ReceivedCount = 0;
    TNotifyEvent OnPacketRecvd;
    TNotifyEvent OnPacketSent;
    std::atomic<bool> WaitDone{false};
    platform::WSADATA WinsockData{};
    sockaddr_in RemoteAddress{};
    std::string Host;
    std::unique_ptr<char[]> HostEntryBuffer;
    std::string ReplyText;
    int16_t ReplyCode = 0;
    std::atomic<uint16_t> SocketHandle{NoSocket};
    platform::HWND WindowHandle = 0;
    std::atomic<bool> IsConnected{false};
    // The thread that owns the socket: only it closes the socket. A close notification dispatched on any
    // other thread (the listening thread, for a connection instance that a serve thread uses) only notes
    // that the peer has gone, and the owner meets the end of the stream itself. The creating thread,
    // until it is set; no thread at all while the socket is being handed over.
    std::atomic<std::thread::id> SocketOwner{std::this_thread::get_id()};

    // Live components that started the socket library (serve threads destroy components too).
    static std::atomic<int> WinsockUsers;

protected:
    using TClock = std::chrono::steady_clock;

    // What a wait watches on the component's socket besides the thread's message queue.
    enum class TWaitFor : short { Messages = 0, Readable = POLLIN, Writable = POLLOUT };

    // Longest single block of a wait. A flag may be set on another thread (a serve thread polls flags
    // that the GUI thread's notifications set), and this bounds how late the waiter sees it.
    static constexpr int WaitSliceMs = 50;

    // The one wait of the component: tests Done, and until it holds or Deadline passes, blocks until
    // the thread has work or the socket is ready for For, then runs the message pump. Never spins.
    // Returns Done's last answer. When the deadline of a TDeadlineScope passes, the wait is ended as the
    // time-out timer ends it (TimerFired), once.
    bool PumpUntil(const std::function<bool()>& Done, TWaitFor For,
                   TClock::time_point Deadline = TClock::time_point::max());

    // The component's socket as a descriptor; -1 when it has none.
    int SocketFd() const;

private:
    // Opens a socket and selects its notifications to the window; leaves SocketHandle at NoSocket, and
    // the error number as the thread's last error, when either fails.
    void OpenSocket(int Protocol);
    // Where every byte of a transfer enters and leaves the component: recv and send of the socket, or
    // of the TLS stream on it when there is one.
    int ReceiveBytes(char* Buffer, int Length, int Flags);
    int SendBytes(const char* Data, int Length);
    // Opens a socket when the component has none (an earlier replacement failed, for want of a
    // descriptor perhaps); raises that failure's socket error when it cannot.
    void EnsureSocket();
    // Whether a look-up completion (its handle) answers the look-up under way, which it then ends.
    bool TakeLookupCompletion(platform::WPARAM Handle);
    // Raises EAbortError with Message (clearing the flag) when CancelRequested is set.
    void ReportAbort(const char* Message);
    // After a failed receive: stores the error number and tells whether it ends the transfer
    // normally (the socket is not connected); other errors but would block raise.
    bool ReceiveFailureEnds();
    // Sends the first Chunk bytes of IoBuffer for SendFile and SendStream, counting SentCount and firing
    // OnPacketSent; false when a send took nothing.
    bool SendChunk(int64_t Chunk);
    using TChunkSink = std::function<void(const char* Data, int Length)>;
    // One receive of at most Limit bytes for the captures: hands them to Sink, counts them, fires
    // OnPacketRecvd and re-arms the time-out. Returns the bytes taken, 0 when the capture ends (the peer
    // closed, or the socket is not connected), -1 when nothing is queued yet; other errors raise.
    int ReceiveChunk(int Limit, const TChunkSink& Sink);
    // The receive loop of the counted captures: never takes more than Count bytes, and tells whether
    // the peer closed before all of them arrived.
    bool ReceiveCounted(int64_t Count, const TChunkSink& Sink);

    // This component counted itself in WinsockUsers, so its destruction counts itself out.
    bool FStartedWinsock = false;
    // The peer of the current socket has closed; set by the close notification even when it is
    // dropped because bytes are still queued, so a read waiting for more than those ends.
    std::atomic<bool> FPeerClosed{false};
    // TLS on the current socket, from StartTls until the socket is closed.
    std::unique_ptr<TTlsChannel> FTls;
    // The error number the latest notification carried (the refused connect's 10061), 0 for none.
    std::atomic<uint16_t> FLastEventError{0};
    // The name look-up under way (its handle), 0 when none is; its completion may be dispatched on
    // another thread than the one that waits for it.
    std::mutex FLookupLock;
    uintptr_t FLookupHandle = 0;
    // StatusText may be written by a notification's thread and by the thread of an operation at once.
    std::mutex FStatusLock;
    // Time-out scopes open on this component; only the outermost arms and disarms the timer.
    friend class TTimeoutScope;
    int FTimeoutScopes = 0;
    // The bound of the deadline scope open on this component; max when none is.
    friend class TDeadlineScope;
    TClock::time_point FDeadline = TClock::time_point::max();
};

// Creates a hidden "TrelkWindowClass" window bound to Owner; 0 when it cannot be made.
platform::HWND SocketAllocateHWnd(TDovrel* Owner);
