#include "LoopbackPorts.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A TCP socket bound to 127.0.0.1 at a port the system picks.
int BoundLoopbackSocket(uint16_t& Port) {
    int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Length = sizeof Address;
    if (Fd < 0 || ::bind(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0 ||
        ::getsockname(Fd, reinterpret_cast<sockaddr*>(&Address), &Length) != 0) {
        if (Fd >= 0) ::close(Fd);
        throw std::runtime_error("cannot bind a loopback socket");
    }
    Port = ntohs(Address.sin_port);
    return Fd;
}

} // namespace

ClosedPort::ClosedPort() {
    FFd = BoundLoopbackSocket(FPort);
}

ClosedPort::~ClosedPort() {
    ::close(FFd);
}

UnansweredPort::UnansweredPort() {
    FListener = BoundLoopbackSocket(FPort);
    // A backlog of 0 holds one connection; with it taken by the filler, the listener drops every further
    // connection request without an answer.
    if (::listen(FListener, 0) != 0) {
        ::close(FListener);
        throw std::runtime_error("cannot listen on a loopback socket");
    }
    FFiller = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Address.sin_port = htons(FPort);
    int Result = ::connect(FFiller, reinterpret_cast<sockaddr*>(&Address), sizeof Address);
    pollfd P{FFiller, POLLOUT, 0};
    if ((Result != 0 && errno != EINPROGRESS) || ::poll(&P, 1, 5000) != 1 ||
        (P.revents & (POLLERR | POLLHUP))) {
        ::close(FFiller);
        ::close(FListener);
        throw std::runtime_error("cannot fill the accept queue of a loopback listener");
    }
}

UnansweredPort::~UnansweredPort() {
    ::close(FFiller);
    ::close(FListener);
}
