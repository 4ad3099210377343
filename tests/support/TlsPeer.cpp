#include "TlsPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A client that hangs fails its test by its own time-out long before this.
constexpr int ReceiveTimeoutSeconds = 20;

SSL_CTX* Context(void* Raw) {
    return static_cast<SSL_CTX*>(Raw);
}

bool HeaderEnded(const std::string& Bytes) {
    return Bytes.find("\r\n\r\n") != std::string::npos || Bytes.find("\n\n") != std::string::npos;
}

} // namespace

TlsPeer::TlsPeer(const TestCertificate& Certificate, TlsPeerScript Script) : FScript(std::move(Script)) {
    SSL_CTX* Made = SSL_CTX_new(TLS_server_method());
    FContext = Made;
    if (!Made || SSL_CTX_use_certificate_chain_file(Made, Certificate.Certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(Made, Certificate.Key.c_str(), SSL_FILETYPE_PEM) != 1) {
        SSL_CTX_free(Made);
        throw std::runtime_error("the TLS peer cannot load " + Certificate.Certificate);
    }
    FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Length = sizeof Address;
    if (FListener < 0 || ::bind(FListener, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0 ||
        ::listen(FListener, 16) != 0 ||
        ::getsockname(FListener, reinterpret_cast<sockaddr*>(&Address), &Length) != 0 ||
        ::pipe2(FStopPipe, O_CLOEXEC) != 0) {
        if (FListener >= 0) ::close(FListener);
        SSL_CTX_free(Made);
        throw std::runtime_error("the TLS peer cannot listen");
    }
    // No session tickets after the handshake: the client's reads see the script's bytes alone.
    SSL_CTX_set_num_tickets(Made, 0);
    FPort = ntohs(Address.sin_port);
    FThread = std::thread([this] { Serve(); });
}

TlsPeer::~TlsPeer() {
    {
        // Under the lock, so the connection is not closed (and its number given to another) meanwhile.
        std::lock_guard Guard(FLock);
        FStopping = true;
        if (FActive >= 0) ::shutdown(FActive, SHUT_RDWR);
    }
    [[maybe_unused]] const ssize_t Ignored = ::write(FStopPipe[1], "x", 1);
    FThread.join();
    ::close(FListener);
    ::close(FStopPipe[0]);
    ::close(FStopPipe[1]);
    SSL_CTX_free(Context(FContext));
}

TlsPeer::TConnection TlsPeer::Connection(size_t Index, std::chrono::milliseconds Deadline) {
    std::unique_lock Guard(FLock);
    FChanged.wait_for(Guard, Deadline,
                      [&] { return Index < FConnections.size() && FConnections[Index].Ended; });
    return Index < FConnections.size() ? FConnections[Index] : TConnection{};
}

void TlsPeer::Serve() {
    for (;;) {
        pollfd Fds[2] = {{FListener, POLLIN, 0}, {FStopPipe[0], POLLIN, 0}};
        if (::poll(Fds, 2, -1) <= 0) continue;
        // The stop pipe stays readable once written.
        if (Fds[1].revents & POLLIN) return;
        const int Fd = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (Fd < 0) continue;
        timeval Timeout{ReceiveTimeoutSeconds, 0};
        ::setsockopt(Fd, SOL_SOCKET, SO_RCVTIMEO, &Timeout, sizeof Timeout);
        size_t Index = 0;
        {
            std::lock_guard Guard(FLock);
            FActive = Fd;
            if (FStopping) ::shutdown(Fd, SHUT_RDWR);
            Index = FConnections.size();
            FConnections.emplace_back();
        }
        TConnection Record;
        ServeConnection(Fd, Record);
        std::lock_guard Guard(FLock);
        FActive = -1;
        ::close(Fd);
        Record.Ended = true;
        FConnections[Index] = Record;
        FChanged.notify_all();
    }
}

void TlsPeer::ServeConnection(int Fd, TConnection& Record) {
    char Buffer[16384];
    if (FScript.AnswerConnect) {
        while (!HeaderEnded(Record.Clear)) {
            const ssize_t N = ::recv(Fd, Buffer, sizeof Buffer, 0);
            if (N <= 0) return;
            Record.Clear.append(Buffer, static_cast<size_t>(N));
        }
        const std::string Answer = "HTTP/1.0 200 Connection established\r\n\r\n";
        if (::send(Fd, Answer.data(), Answer.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(Answer.size()))
            return;
    }
    SSL* Ssl = SSL_new(Context(FContext));
    if (!Ssl) return;
    SSL_set_fd(Ssl, Fd);
    if (SSL_accept(Ssl) == 1) {
        Record.Handshaken = true;
        while (!HeaderEnded(Record.Decrypted)) {
            const int N = SSL_read(Ssl, Buffer, sizeof Buffer);
            if (N <= 0) break;
            Record.Decrypted.append(Buffer, static_cast<size_t>(N));
        }
        for (const std::string& Piece : FScript.Reply)
            SSL_write(Ssl, Piece.data(), static_cast<int>(Piece.size()));
        std::this_thread::sleep_for(FScript.Pause);
        if (FScript.End == TlsPeerScript::TEnd::CloseNotify) SSL_shutdown(Ssl);
        // A cut stream ends with the socket's end alone.
        if (FScript.End == TlsPeerScript::TEnd::Cut) ::shutdown(Fd, SHUT_WR);
        while (::recv(Fd, Buffer, sizeof Buffer, 0) > 0) {
        }
    }
    SSL_free(Ssl);
    ERR_clear_error();
}
