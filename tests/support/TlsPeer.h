#pragma once
// A scripted TLS server on 127.0.0.1 for tests of the client's TLS: it serves one connection after
// another with a certificate of TlsServers.h and records, per connection, the clear bytes it read before
// TLS (a CONNECT request), whether the handshake completed and the decrypted bytes. Its thread is
// stopped and joined by the destructor.
#include "TlsServers.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TlsPeerScript {
    // First reads a request in the clear and answers "HTTP/1.0 200 Connection established", as a proxy
    // that opens a tunnel and then intercepts it.
    bool AnswerConnect = false;
    // Sent once the request's header has arrived, each piece in a TLS record of its own.
    std::vector<std::string> Reply;
    // Time between the reply and the end.
    std::chrono::milliseconds Pause{0};
    enum class TEnd {
        CloseNotify, // close_notify, then wait for the client to close
        Cut,         // end the connection without close_notify, as if cut
        Hold,        // send nothing more and wait for the client to close
    };
    TEnd End = TEnd::CloseNotify;
};

class TlsPeer {
public:
    TlsPeer(const TestCertificate& Certificate, TlsPeerScript Script);
    ~TlsPeer();
    TlsPeer(const TlsPeer&) = delete;
    TlsPeer& operator=(const TlsPeer&) = delete;

    uint16_t Port() const { return FPort; }

    struct TConnection {
        std::string Clear; // read before the handshake
        bool Handshaken = false;
        std::string Decrypted; // read over TLS
        bool Ended = false;
    };
    // Waits until connection Index has ended (up to Deadline) and returns what it received; Ended tells
    // whether it did.
    TConnection Connection(size_t Index, std::chrono::milliseconds Deadline = std::chrono::seconds(10));

private:
    void Serve();
    void ServeConnection(int Fd, TConnection& Record);

    TlsPeerScript FScript;
    void* FContext = nullptr; // the server's SSL_CTX
    int FListener = -1;
    int FStopPipe[2] = {-1, -1};
    uint16_t FPort = 0;
    std::mutex FLock;
    // Guarded by FLock: the connection being served (-1 for none), and whether the peer is going.
    int FActive = -1;
    bool FStopping = false;
    std::condition_variable FChanged;
    std::vector<TConnection> FConnections;
    std::thread FThread;
};
