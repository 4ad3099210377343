#pragma once
// Loopback clients for the listening and server tests, and a pump that waits on a condition.
#include "net/TDovrel.h"
#include "platform/Windows.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace servertest {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

// Generous: a burst of clients against a backlog of 1 is slowed by SYN retransmissions.
constexpr auto Patience = 30s;

// Runs the calling thread's message pump until Done holds or Limit has passed; tells whether Done held.
// Clients on other threads do not wake this thread, so each block is short.
inline bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit = Patience) {
    const auto Deadline = TClock::now() + Limit;
    for (;;) {
        platform::ProcessMessages();
        if (Done()) return true;
        if (TClock::now() >= Deadline) return false;
        platform::WaitForWork(10);
    }
}

// The port a component's socket is bound to, read straight from the descriptor.
inline uint16_t BoundPort(const TDovrel& Socket) {
    sockaddr_in Address{};
    socklen_t Length = sizeof Address;
    ::getsockname(Socket.SocketHandle, reinterpret_cast<sockaddr*>(&Address), &Length);
    return ntohs(Address.sin_port);
}

// A blocking TCP client on 127.0.0.1 that owns its descriptor.
class TLoopbackClient {
public:
    // ReceiveBuffer: the socket's receive buffer (0: the system's); small makes a client that does not
    // read push back at once.
    explicit TLoopbackClient(uint16_t Port, int ReceiveBuffer = 0) {
        FFd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (FFd >= 0 && ReceiveBuffer > 0)
            ::setsockopt(FFd, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
        sockaddr_in Address{};
        Address.sin_family = AF_INET;
        Address.sin_port = htons(Port);
        Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        FConnected = FFd >= 0 && ::connect(FFd, reinterpret_cast<sockaddr*>(&Address), sizeof Address) == 0;
    }
    ~TLoopbackClient() {
        if (FFd >= 0) ::close(FFd);
    }
    TLoopbackClient(const TLoopbackClient&) = delete;
    TLoopbackClient& operator=(const TLoopbackClient&) = delete;

    bool Connected() const { return FConnected; }

    uint16_t LocalPort() const {
        sockaddr_in Address{};
        socklen_t Length = sizeof Address;
        ::getsockname(FFd, reinterpret_cast<sockaddr*>(&Address), &Length);
        return ntohs(Address.sin_port);
    }

    // Ends the client's sending; it still receives.
    void HalfClose() { ::shutdown(FFd, SHUT_WR); }

    bool Send(const std::string& Bytes) {
        size_t Done = 0;
        while (Done < Bytes.size()) {
            ssize_t N = ::send(FFd, Bytes.data() + Done, Bytes.size() - Done, MSG_NOSIGNAL);
            if (N <= 0) return false;
            Done += static_cast<size_t>(N);
        }
        return true;
    }

    // One line with its LF; what arrived so far when the peer closes or Limit passes first.
    std::string ReadLine(std::chrono::milliseconds Limit = Patience) {
        std::string Line;
        const auto Deadline = TClock::now() + Limit;
        char Byte = 0;
        while (Line.empty() || Line.back() != '\n') {
            if (!WaitReadable(Deadline) || ::recv(FFd, &Byte, 1, 0) != 1) break;
            Line += Byte;
        }
        return Line;
    }

    // Everything until the peer closes or Limit passes; Orderly tells whether the stream ended in an
    // orderly close (not a reset, not the deadline).
    std::string ReadAll(bool& Orderly, std::chrono::milliseconds Limit = Patience) {
        std::string Bytes;
        Orderly = false;
        const auto Deadline = TClock::now() + Limit;
        char Buffer[65536];
        while (WaitReadable(Deadline)) {
            ssize_t N = ::recv(FFd, Buffer, sizeof Buffer, 0);
            if (N > 0) {
                Bytes.append(Buffer, static_cast<size_t>(N));
                continue;
            }
            Orderly = N == 0;
            break;
        }
        return Bytes;
    }

    // True when the peer closed (orderly or by reset) without sending more within Limit.
    bool WaitClosed(std::chrono::milliseconds Limit = Patience) {
        const auto Deadline = TClock::now() + Limit;
        char Byte = 0;
        for (;;) {
            if (!WaitReadable(Deadline)) return false;
            ssize_t N = ::recv(FFd, &Byte, 1, 0);
            if (N == 0 || (N < 0 && errno == ECONNRESET)) return true;
            if (N > 0) return false;
        }
    }

private:
    bool WaitReadable(TClock::time_point Deadline) {
        for (;;) {
            auto Left =
                std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - TClock::now()).count();
            if (Left <= 0) return false;
            pollfd Poll{FFd, POLLIN, 0};
            int N = ::poll(&Poll, 1, static_cast<int>(Left));
            if (N > 0) return true;
            if (N < 0 && errno != EINTR) return false;
        }
    }

    int FFd = -1;
    bool FConnected = false;
};

} // namespace servertest
