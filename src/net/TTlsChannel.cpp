#include "net/TTlsChannel.h"

#include "net/SocketErrors.h"
#include "platform/Sockets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

namespace {

// The reason of the oldest error OpenSSL queued, or Fallback when it queued none; the queue is emptied.
std::string OpenSslReason(const char* Fallback) {
    const unsigned long First = ERR_get_error();
    ERR_clear_error();
    if (First == 0) return Fallback;
    const char* Reason = ERR_reason_error_string(First);
    return Reason ? Reason : "error " + std::to_string(ERR_GET_REASON(First));
}

// The socket beneath a channel, as a BIO: every byte goes through the platform's recv and send, which
// re-enable the socket's notifications and give the layer's error numbers.
int SocketRead(BIO* Bio, char* Buffer, int Length) {
    auto* Notes = static_cast<TTlsChannel::TSocketNotes*>(BIO_get_data(Bio));
    BIO_clear_retry_flags(Bio);
    const int N = platform::recv(Notes->Fd, Buffer, Length, 0);
    if (N > 0) return N;
    if (N == 0) {
        Notes->PeerEnded = true;
        return 0;
    }
    const int Error = platform::WSAGetLastError();
    if (Error == platform::WSAEWOULDBLOCK)
        BIO_set_retry_read(Bio);
    else
        Notes->Error = Error;
    return -1;
}

int SocketWrite(BIO* Bio, const char* Data, int Length) {
    auto* Notes = static_cast<TTlsChannel::TSocketNotes*>(BIO_get_data(Bio));
    BIO_clear_retry_flags(Bio);
    const int N = platform::send(Notes->Fd, Data, Length, 0);
    if (N >= 0) return N;
    const int Error = platform::WSAGetLastError();
    if (Error == platform::WSAEWOULDBLOCK)
        BIO_set_retry_write(Bio);
    else
        Notes->Error = Error;
    return -1;
}

long SocketControl(BIO*, int Command, long, void*) {
    // Writes go straight to the socket, so there is never anything to flush.
    return Command == BIO_CTRL_FLUSH ? 1 : 0;
}

int SocketCreate(BIO* Bio) {
    BIO_set_init(Bio, 1);
    return 1;
}

bool IsAddress(const std::string& Name) {
    in_addr V4;
    in6_addr V6;
    return ::inet_pton(AF_INET, Name.c_str(), &V4) == 1 || ::inet_pton(AF_INET6, Name.c_str(), &V6) == 1;
}

} // namespace

void TTlsContext::TFree::operator()(ssl_ctx_st* Context) const {
    SSL_CTX_free(Context);
}
void TTlsContext::TFree::operator()(bio_method_st* Method) const {
    BIO_meth_free(Method);
}
void TTlsContext::TFree::operator()(ssl_st* Ssl) const {
    SSL_free(Ssl);
}

TTlsContext::TTlsContext(const std::string& CaFile) : FCaFile(CaFile) {
    ERR_clear_error();
    FContext.reset(SSL_CTX_new(TLS_client_method()));
    // No type index of its own: nothing looks the socket's BIO up by its type.
    FSocketBio.reset(BIO_meth_new(BIO_TYPE_SOURCE_SINK, "vindral socket"));
    if (!FContext || !FSocketBio) throw ESockError("TLS cannot be set up: " + OpenSslReason("out of memory"));
    BIO_meth_set_read(FSocketBio.get(), SocketRead);
    BIO_meth_set_write(FSocketBio.get(), SocketWrite);
    BIO_meth_set_ctrl(FSocketBio.get(), SocketControl);
    BIO_meth_set_create(FSocketBio.get(), SocketCreate);

    SSL_CTX* Context = FContext.get();
    SSL_CTX_set_min_proto_version(Context, TLS1_2_VERSION);
    SSL_CTX_set_verify(Context, SSL_VERIFY_PEER, nullptr);
    // A send may take part of the data, as a socket's does, and is retried from where it stopped.
    SSL_CTX_set_mode(Context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_session_cache_mode(Context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(Context, SSL_OP_NO_TICKET);
    if (SSL_CTX_set_default_verify_paths(Context) != 1)
        throw ESockError("The system's certificate store cannot be loaded: " +
                         OpenSslReason("unknown reason"));
    if (!CaFile.empty() && SSL_CTX_load_verify_file(Context, CaFile.c_str()) != 1)
        throw ESockError("The certificate authority file " + CaFile +
                         " cannot be loaded: " + OpenSslReason("unknown reason"));
}

TTlsContext::~TTlsContext() = default;

TTlsChannel::TTlsChannel(TTlsContext& Context, int Fd, const std::string& ServerName) {
    if (ServerName.empty()) throw ESockError("TLS needs the server's host name to verify its certificate");
    FNotes.Fd = Fd;
    ERR_clear_error();
    FSsl.reset(SSL_new(Context.FContext.get()));
    BIO* Bio = FSsl ? BIO_new(Context.FSocketBio.get()) : nullptr;
    if (!Bio) throw ESockError("TLS cannot be set up: " + OpenSslReason("out of memory"));
    BIO_set_data(Bio, &FNotes);
    SSL* Ssl = FSsl.get();
    SSL_set_bio(Ssl, Bio, Bio);
    SSL_set_connect_state(Ssl);
    // An address is matched against the certificate's addresses and is not sent as a name.
    const bool Named = IsAddress(ServerName)
                           ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(Ssl), ServerName.c_str()) == 1
                           : SSL_set_tlsext_host_name(Ssl, ServerName.c_str()) == 1 &&
                                 SSL_set1_host(Ssl, ServerName.c_str()) == 1;
    if (!Named) throw ESockError("TLS cannot check a certificate against the name " + ServerName);
    SSL_set_hostflags(Ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
}

TTlsChannel::~TTlsChannel() = default;

int TTlsChannel::Handshake() {
    ERR_clear_error();
    FNotes.Error = 0;
    const int Result = SSL_do_handshake(FSsl.get());
    if (Result == 1) {
        FWants = 0;
        return 1;
    }
    if (Waits(Result)) return 0;
    FEnd = TEnd::TlsFailed;
    const long Verified = SSL_get_verify_result(FSsl.get());
    if (Verified != X509_V_OK) {
        ERR_clear_error();
        FFailure = std::string("TLS certificate not verified: ") + X509_verify_cert_error_string(Verified);
    } else if (FNotes.Error != 0) {
        ERR_clear_error();
        FEnd = TEnd::SocketFailed;
        platform::WSASetLastError(FNotes.Error);
        return platform::SOCKET_ERROR;
    } else if (FNotes.PeerEnded) {
        ERR_clear_error();
        FFailure = "Connection closed during the TLS handshake";
    } else {
        FFailure = "TLS handshake failed: " + OpenSslReason("unknown reason");
    }
    throw ESockError(FFailure);
}

bool TTlsChannel::Waits(int Result) {
    switch (SSL_get_error(FSsl.get(), Result)) {
    case SSL_ERROR_WANT_READ:
        FWants = POLLIN;
        return true;
    case SSL_ERROR_WANT_WRITE:
        FWants = POLLOUT;
        return true;
    default:
        FWants = 0;
        return false;
    }
}

int TTlsChannel::ReadSome(char* Buffer, int Length) {
    if (FEnd != TEnd::Open) return 0;
    ERR_clear_error();
    FNotes.Error = 0;
    const int N = SSL_read(FSsl.get(), Buffer, Length);
    if (N > 0) {
        FWants = 0;
        return N;
    }
    if (Waits(N)) return 0;
    if (SSL_get_error(FSsl.get(), N) == SSL_ERROR_ZERO_RETURN) {
        FEnd = TEnd::Closed;
    } else if (FNotes.Error != 0) {
        FEnd = TEnd::SocketFailed;
    } else {
        FEnd = TEnd::TlsFailed;
        // Without close_notify an end cannot be told from a cut: the bytes so far may be a part only.
        FFailure = FNotes.PeerEnded ? "Connection closed before the end of the TLS stream"
                                    : "TLS failure: " + OpenSslReason("unknown reason");
    }
    ERR_clear_error();
    return 0;
}

int TTlsChannel::NoBytes() {
    switch (FEnd) {
    case TEnd::Open:
        platform::WSASetLastError(platform::WSAEWOULDBLOCK);
        return platform::SOCKET_ERROR;
    case TEnd::Closed:
        return 0;
    case TEnd::SocketFailed:
        platform::WSASetLastError(FNotes.Error);
        return platform::SOCKET_ERROR;
    case TEnd::TlsFailed:
        break;
    }
    throw ESockError(FFailure);
}

void TTlsChannel::TakeBuffered(char* Buffer, int Length, bool Peek) {
    std::memcpy(Buffer, FHeld.data() + FHeldStart, static_cast<size_t>(Length));
    if (Peek) return;
    FHeldStart += static_cast<size_t>(Length);
    if (FHeldStart == FHeld.size()) {
        FHeld.clear();
        FHeldStart = 0;
    }
}

int TTlsChannel::Receive(char* Buffer, int Length, int Flags) {
    if (Length <= 0) return 0;
    const size_t Wanted = static_cast<size_t>(Length);
    size_t Held = FHeld.size() - FHeldStart;
    if (Flags & platform::MSG_PEEK_FLAG) {
        // As a socket's peek shows all that is queued, so this one decrypts what it can, up to Length.
        while (Held < Wanted && FEnd == TEnd::Open) {
            FHeld.erase(0, FHeldStart);
            FHeldStart = 0;
            FHeld.resize(Wanted);
            const int N = ReadSome(FHeld.data() + Held, static_cast<int>(Wanted - Held));
            FHeld.resize(Held + static_cast<size_t>(N));
            if (N == 0) break;
            Held += static_cast<size_t>(N);
        }
        if (Held == 0) return NoBytes();
        const int Count = static_cast<int>(std::min(Held, Wanted));
        TakeBuffered(Buffer, Count, true);
        return Count;
    }
    int Got = static_cast<int>(std::min(Held, Wanted));
    if (Got > 0) TakeBuffered(Buffer, Got, false);
    while (Got < Length) {
        const int N = ReadSome(Buffer + Got, Length - Got);
        if (N == 0) break;
        Got += N;
    }
    // An end or a failure met after some bytes is reported by the next receive, as a socket would.
    return Got > 0 ? Got : NoBytes();
}

int TTlsChannel::Send(const char* Data, int Length) {
    if (Length <= 0) return 0;
    if (FEnd == TEnd::SocketFailed) {
        platform::WSASetLastError(FNotes.Error);
        return platform::SOCKET_ERROR;
    }
    if (FEnd == TEnd::TlsFailed) throw ESockError(FFailure);
    ERR_clear_error();
    FNotes.Error = 0;
    const int N = SSL_write(FSsl.get(), Data, Length);
    if (N > 0) {
        FWants = 0;
        return N;
    }
    if (Waits(N)) {
        platform::WSASetLastError(platform::WSAEWOULDBLOCK);
        return platform::SOCKET_ERROR;
    }
    if (FNotes.Error != 0) {
        ERR_clear_error();
        FEnd = TEnd::SocketFailed;
        platform::WSASetLastError(FNotes.Error);
        return platform::SOCKET_ERROR;
    }
    FEnd = TEnd::TlsFailed;
    FFailure = "TLS failure: " + OpenSslReason("the peer ended the stream");
    throw ESockError(FFailure);
}

bool TTlsChannel::HoldsBytes() const {
    return FHeld.size() > FHeldStart || SSL_pending(FSsl.get()) > 0;
}

bool TTlsChannel::ReadyToRead() const {
    return HoldsBytes() || FEnd != TEnd::Open;
}

short TTlsChannel::WaitEvents(short Asked) const {
    return FWants != 0 ? FWants : Asked;
}

void TTlsChannel::Shutdown() {
    if (FEnd == TEnd::TlsFailed || FEnd == TEnd::SocketFailed || !SSL_is_init_finished(FSsl.get())) return;
    FNotes.Error = 0;
    SSL_shutdown(FSsl.get());
    ERR_clear_error();
}
