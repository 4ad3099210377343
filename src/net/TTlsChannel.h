#pragma once
// The client side of TLS over a connected socket of the socket layer. The encrypted bytes pass through
// the platform's send and recv, so the socket's notifications, its error numbers and its waits stay those
// of a plain connection; the decrypted stream is offered with recv's own contract, peeking included, so
// line reads and captures work on it unchanged. OpenSSL is used here and nowhere else.
#include <cstdint>
#include <memory>
#include <string>

struct ssl_ctx_st;
struct ssl_st;
struct bio_method_st;

// What the TLS connections of one client trust: the system's certificate store and, when a file names
// one, one more certificate authority. No session is kept for a later connection: every connection
// verifies its certificate in full, and a short handshake that ends with the client's message makes a
// proxy that delays small writes hold the request back.
class TTlsContext {
public:
    // Raises ESockError naming the cause when the store or CaFile cannot be loaded.
    explicit TTlsContext(const std::string& CaFile = {});
    ~TTlsContext();
    TTlsContext(const TTlsContext&) = delete;
    TTlsContext& operator=(const TTlsContext&) = delete;

    const std::string& CaFile() const { return FCaFile; }

private:
    friend class TTlsChannel;
    struct TFree {
        void operator()(ssl_ctx_st* Context) const;
        void operator()(bio_method_st* Method) const;
        void operator()(ssl_st* Ssl) const;
    };

    std::string FCaFile;
    std::unique_ptr<ssl_ctx_st, TFree> FContext;
    std::unique_ptr<bio_method_st, TFree> FSocketBio;
};

// One TLS connection over the socket Fd, which stays the caller's (the channel never closes it).
class TTlsChannel {
public:
    // ServerName is sent (a host name, not an address) and the certificate must name it. An empty
    // ServerName raises ESockError: there would be nothing to check the certificate against.
    TTlsChannel(TTlsContext& Context, int Fd, const std::string& ServerName);
    ~TTlsChannel();
    TTlsChannel(const TTlsChannel&) = delete;
    TTlsChannel& operator=(const TTlsChannel&) = delete;

    // One step of the handshake: 1 when it is complete, 0 while it waits for the socket (WaitEvents says
    // for what), SOCKET_ERROR with the thread's last error set when the socket failed. Raises ESockError
    // naming the cause when the certificate does not verify, the peer closes, or the handshake fails.
    int Handshake();

    // recv on the decrypted stream: bytes received, 0 once the peer has ended the stream in order
    // (close_notify), SOCKET_ERROR with the last error set (would block, or the socket's own error). With
    // MSG_PEEK_FLAG the bytes stay for the next receive, and as many are offered as can be decrypted now,
    // up to Length. Raises ESockError for a stream that ends without close_notify (cut short) or breaks.
    int Receive(char* Buffer, int Length, int Flags);
    // send on the decrypted stream: bytes taken, or SOCKET_ERROR with the last error set (would block, or
    // the socket's own error). Raises ESockError for a failure of TLS itself.
    int Send(const char* Data, int Length);

    // Decrypted bytes wait to be received, which the socket's readiness no longer shows.
    bool HoldsBytes() const;
    // Whether a receive would answer without the socket becoming readable: decrypted bytes are held, or
    // the stream's end or failure is known and waits to be reported.
    bool ReadyToRead() const;
    // The poll events to wait for before the next step, given those the caller waits for: TLS may need
    // to write while the caller reads (or the other way round).
    short WaitEvents(short Asked) const;

    // Sends close_notify when it can go out at once; nothing is waited for.
    void Shutdown();

    // What the socket's recv and send told the channel's last steps; filled by the socket callbacks.
    struct TSocketNotes {
        int Fd = -1;
        bool PeerEnded = false; // recv returned 0
        int Error = 0;          // a socket error other than would block
    };

private:
    enum class TEnd { Open, Closed, SocketFailed, TlsFailed };
    // One SSL_read into Buffer: bytes, or 0 when nothing came (FWants or FEnd say why).
    int ReadSome(char* Buffer, int Length);
    // The outcome of a receive that got no bytes, as recv gives it (or raised).
    int NoBytes();
    // Classifies a failed SSL call: true when it only waits for the socket.
    bool Waits(int Result);
    void TakeBuffered(char* Buffer, int Length, bool Peek);

    // Before the connection, which points at it until it is freed.
    TSocketNotes FNotes;
    std::unique_ptr<ssl_st, TTlsContext::TFree> FSsl;
    short FWants = 0;
    TEnd FEnd = TEnd::Open;
    std::string FFailure;
    // Decrypted bytes taken out of TLS by a peek, not yet received: [FHeldStart, FHeld.size()).
    std::string FHeld;
    size_t FHeldStart = 0;
};
