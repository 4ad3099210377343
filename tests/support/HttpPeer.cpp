#include "HttpPeer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// How long the peer waits for a request, and for the client to close after the reply. A client that
// hangs fails its test through its own time-out long before these.
constexpr auto RequestDeadline = std::chrono::seconds(15);
constexpr auto CloseDeadline = std::chrono::seconds(90);

std::string LowerCase(std::string Text) {
    for (char& C : Text)
        if (C >= 'A' && C <= 'Z') C = static_cast<char>(C + 32);
    return Text;
}

// The end of the header block (after its empty line) and the announced body length, once the whole
// header is in Bytes.
bool RequestComplete(const std::string& Bytes) {
    size_t HeaderEnd = Bytes.find("\r\n\r\n");
    size_t Skip = 4;
    if (size_t Lf = Bytes.find("\n\n");
        Lf != std::string::npos && (HeaderEnd == std::string::npos || Lf < HeaderEnd)) {
        HeaderEnd = Lf;
        Skip = 2;
    }
    if (HeaderEnd == std::string::npos) return false;
    const std::string Header = LowerCase(Bytes.substr(0, HeaderEnd));
    size_t BodyLength = 0;
    size_t Pos = 0;
    while (Pos < Header.size()) {
        size_t End = Header.find('\n', Pos);
        if (End == std::string::npos) End = Header.size();
        const std::string Line = Header.substr(Pos, End - Pos);
        if (Line.rfind("content-length:", 0) == 0) BodyLength = std::strtoull(Line.c_str() + 15, nullptr, 10);
        Pos = End + 1;
    }
    return Bytes.size() >= HeaderEnd + Skip + BodyLength;
}

void SendAll(int Fd, const std::string& Bytes) {
    size_t Sent = 0;
    while (Sent < Bytes.size()) {
        const ssize_t N = ::send(Fd, Bytes.data() + Sent, Bytes.size() - Sent, MSG_NOSIGNAL);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) return; // the client went away; its test sees what it got
        Sent += static_cast<size_t>(N);
    }
}

} // namespace

HttpPeerReply OnePacket(std::string Bytes, HttpPeerEnd End) {
    return HttpPeerReply{{std::move(Bytes)}, End};
}

std::vector<std::string> SplitRandomly(const std::string& Bytes, std::mt19937& Rng, size_t MaxPiece) {
    std::vector<std::string> Pieces;
    std::uniform_int_distribution<size_t> Length(1, std::max<size_t>(MaxPiece, 1));
    for (size_t Pos = 0; Pos < Bytes.size();) {
        const size_t N = std::min(Length(Rng), Bytes.size() - Pos);
        Pieces.push_back(Bytes.substr(Pos, N));
        Pos += N;
    }
    return Pieces;
}

HttpPeer::HttpPeer(std::vector<HttpPeerReply> Replies, const std::string& Address)
    : FReplies(std::move(Replies)) {
    if (::pipe(FStopPipe) != 0) throw std::runtime_error("pipe failed");
    FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in Addr{};
    Addr.sin_family = AF_INET;
    Addr.sin_port = 0;
    if (FListener < 0 || ::inet_pton(AF_INET, Address.c_str(), &Addr.sin_addr) != 1 ||
        (ntohl(Addr.sin_addr.s_addr) >> 24) != 127 ||
        ::bind(FListener, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) != 0 ||
        ::listen(FListener, 64) != 0) {
        const std::string Error = std::strerror(errno);
        if (FListener >= 0) ::close(FListener);
        ::close(FStopPipe[0]);
        ::close(FStopPipe[1]);
        throw std::runtime_error("HttpPeer cannot listen on " + Address + ": " + Error);
    }
    socklen_t Length = sizeof Addr;
    ::getsockname(FListener, reinterpret_cast<sockaddr*>(&Addr), &Length);
    FPort = ntohs(Addr.sin_port);
    FThread = std::thread([this] { Serve(); });
}

HttpPeer::~HttpPeer() {
    const char Stop = 's';
    [[maybe_unused]] ssize_t Ignored = ::write(FStopPipe[1], &Stop, 1);
    FThread.join();
    ::close(FListener);
    ::close(FStopPipe[0]);
    ::close(FStopPipe[1]);
}

void HttpPeer::SetReplies(std::vector<HttpPeerReply> Replies) {
    std::lock_guard Lock(FLock);
    FReplies = std::move(Replies);
}

std::vector<std::string> HttpPeer::Requests(size_t Count, std::chrono::milliseconds Deadline) {
    std::unique_lock Lock(FLock);
    FChanged.wait_for(Lock, Deadline, [&] {
        if (FRecords.size() < Count) return false;
        return std::all_of(FRecords.begin(), FRecords.begin() + static_cast<std::ptrdiff_t>(Count),
                           [](const Record& R) { return R.ClientClosed; });
    });
    std::vector<std::string> Result;
    for (const Record& R : FRecords) Result.push_back(R.Request);
    return Result;
}

size_t HttpPeer::Connections() {
    std::lock_guard Lock(FLock);
    return FRecords.size();
}

bool HttpPeer::WaitClientClosed(size_t Index, std::chrono::milliseconds Deadline) {
    std::unique_lock Lock(FLock);
    return FChanged.wait_for(Lock, Deadline,
                             [&] { return Index < FRecords.size() && FRecords[Index].ClientClosed; });
}

bool HttpPeer::WaitReadable(int Fd, Clock::time_point Deadline) const {
    for (;;) {
        const auto Left =
            std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now()).count();
        if (Left <= 0) return false;
        pollfd Fds[2] = {{Fd, POLLIN, 0}, {FStopPipe[0], POLLIN, 0}};
        const int N = ::poll(Fds, 2, static_cast<int>(Left));
        if (N < 0 && errno == EINTR) continue;
        if (N < 0 || (Fds[1].revents & POLLIN)) return false;
        if (Fds[0].revents) return true;
    }
}

void HttpPeer::Append(size_t Index, const char* Data, size_t Size) {
    std::lock_guard Lock(FLock);
    FRecords[Index].Request.append(Data, Size);
}

void HttpPeer::MarkClosed(size_t Index) {
    {
        std::lock_guard Lock(FLock);
        FRecords[Index].ClientClosed = true;
    }
    FChanged.notify_all();
}

void HttpPeer::Serve() {
    for (;;) {
        if (!WaitReadable(FListener, Clock::time_point::max())) return;
        const int Fd = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (Fd < 0) continue;
        const int One = 1;
        ::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
        size_t Index = 0;
        HttpPeerReply Reply{{}, HttpPeerEnd::Silent};
        {
            std::lock_guard Lock(FLock);
            Index = FRecords.size();
            FRecords.emplace_back();
            if (!FReplies.empty()) Reply = FReplies[std::min(Index, FReplies.size() - 1)];
        }
        FChanged.notify_all();
        ServeConnection(Fd, Reply, Index);
        ::close(Fd);
        MarkClosed(Index); // ended, whoever ended it
    }
}

void HttpPeer::ServeConnection(int Fd, const HttpPeerReply& Reply, size_t Index) {
    char Buffer[65536];
    // Reads what arrives until the client closes, the stop pipe fires or the deadline passes.
    auto ReadUntilClosed = [&](Clock::time_point Deadline) {
        while (WaitReadable(Fd, Deadline)) {
            const ssize_t N = ::recv(Fd, Buffer, sizeof Buffer, 0);
            if (N < 0 && errno == EINTR) continue;
            if (N <= 0) return;
            Append(Index, Buffer, static_cast<size_t>(N));
        }
    };

    std::string Request;
    const auto RequestEnd = Clock::now() + RequestDeadline;
    while (!RequestComplete(Request)) {
        if (!WaitReadable(Fd, RequestEnd)) break; // answer what came; the test compares the bytes
        const ssize_t N = ::recv(Fd, Buffer, sizeof Buffer, 0);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) return;
        Request.append(Buffer, static_cast<size_t>(N));
        Append(Index, Buffer, static_cast<size_t>(N));
    }

    if (Reply.End == HttpPeerEnd::Silent) {
        ReadUntilClosed(Clock::now() + CloseDeadline);
        return;
    }
    for (size_t I = 0; I < Reply.Packets.size(); ++I) {
        // Spaced apart so that the reader meets the pieces one by one; what it reads must not depend on it.
        if (I > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        SendAll(Fd, Reply.Packets[I]);
    }
    switch (Reply.End) {
    case HttpPeerEnd::Close:
        ::shutdown(Fd, SHUT_WR);
        ReadUntilClosed(Clock::now() + CloseDeadline);
        break;
    case HttpPeerEnd::HoldOpen:
        ReadUntilClosed(Clock::now() + CloseDeadline);
        break;
    case HttpPeerEnd::Reset: {
        const linger Drop{1, 0};
        ::setsockopt(Fd, SOL_SOCKET, SO_LINGER, &Drop, sizeof Drop);
        break;
    }
    case HttpPeerEnd::Silent:
        break;
    }
}
