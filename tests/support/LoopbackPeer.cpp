#include "LoopbackPeer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t ChunkSize = 65536;

int RemainingMs(Clock::time_point Deadline) {
    if (Deadline == Clock::time_point::max()) return -1;
    auto Left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<int64_t>(Left, 0, 1 << 30));
}

bool IsSet(int EventFd) {
    pollfd P{EventFd, POLLIN, 0};
    return ::poll(&P, 1, 0) == 1;
}

void Signal(int EventFd) {
    uint64_t One = 1;
    [[maybe_unused]] ssize_t N = ::write(EventFd, &One, sizeof One);
}

} // namespace

// ---- PeerScript ----

PeerScript& PeerScript::Send(std::string Bytes) {
    FSteps.push_back({TKind::Send, std::move(Bytes), 0, {}});
    return *this;
}

PeerScript& PeerScript::SendInPackets(const std::string& Bytes, const std::vector<size_t>& Cuts,
                                      std::chrono::milliseconds Gap) {
    size_t From = 0;
    for (size_t Cut : Cuts) {
        Cut = std::min(Cut, Bytes.size());
        if (Cut <= From) continue;
        Send(Bytes.substr(From, Cut - From));
        Stall(Gap);
        From = Cut;
    }
    if (From < Bytes.size()) Send(Bytes.substr(From));
    return *this;
}

PeerScript& PeerScript::SendPattern(uint64_t Count) {
    FSteps.push_back({TKind::Pattern, {}, Count, {}});
    return *this;
}

PeerScript& PeerScript::SendRepeated(std::string Unit, uint64_t Count) {
    FSteps.push_back({TKind::Repeated, std::move(Unit), Count, {}});
    return *this;
}

PeerScript& PeerScript::Stall(std::chrono::milliseconds Time) {
    FSteps.push_back({TKind::Stall, {}, 0, Time});
    return *this;
}

PeerScript& PeerScript::ReceiveUntil(std::string Marker) {
    FSteps.push_back({TKind::ReceiveUntil, std::move(Marker), 0, {}});
    return *this;
}

PeerScript& PeerScript::ReceiveAtLeast(uint64_t Count) {
    FSteps.push_back({TKind::ReceiveAtLeast, {}, Count, {}});
    return *this;
}

PeerScript& PeerScript::StopReading() {
    FSteps.push_back({TKind::StopReading, {}, 0, {}});
    return *this;
}

PeerScript& PeerScript::Hold() {
    FSteps.push_back({TKind::Hold, {}, 0, {}});
    return *this;
}

PeerScript& PeerScript::Close() {
    FSteps.push_back({TKind::Close, {}, 0, {}});
    return *this;
}

PeerScript& PeerScript::Reset() {
    FSteps.push_back({TKind::Reset, {}, 0, {}});
    return *this;
}

// A byte sequence with a period (251, a prime) that no power-of-two chunking lines up with, so a chunk
// lost, repeated or reordered shows.
char PatternByte(uint64_t Offset) {
    return static_cast<char>(Offset % 251);
}

std::string PatternBytes(uint64_t Offset, size_t Count) {
    std::string Bytes(Count, '\0');
    for (size_t I = 0; I < Count; ++I) Bytes[I] = PatternByte(Offset + I);
    return Bytes;
}

// ---- one accepted connection ----

class LoopbackPeer::TConnection {
public:
    enum class TWake { Ready, Data, ClientClosed, Stopped, Released, NextClient, Deadline };

    TConnection(LoopbackPeer& Peer, int Fd, size_t Index) : FPeer(Peer), FFd(Fd), FIndex(Index) {}
    ~TConnection() {
        if (FFd >= 0) ::close(FFd);
    }
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // Blocks until the socket takes data (WantWrite), data or the end of the stream arrives (recorded
    // here), the peer stops, or Deadline passes; Hold-like waits also end on Release or a next client.
    TWake Wait(bool WantWrite, Clock::time_point Deadline, bool Holding) {
        pollfd Fds[4] = {};
        // A connection whose client has gone keeps reporting a hang-up; it is left out of the wait unless
        // a send asks, so a stall or a hold after the end blocks instead of spinning.
        const bool Watch = WantWrite || !FEnded;
        Fds[0] = {Watch ? FFd : -1,
                  static_cast<short>((FReading && !FEnded ? POLLIN : 0) | (WantWrite ? POLLOUT : 0)), 0};
        Fds[1] = {FPeer.FStopEvent, POLLIN, 0};
        Fds[2] = {Holding ? FPeer.FReleaseEvent : -1, POLLIN, 0};
        Fds[3] = {Holding ? FPeer.FListener : -1, POLLIN, 0};
        int N = ::poll(Fds, 4, RemainingMs(Deadline));
        if (N < 0 && errno == EINTR) return TWake::Data;
        if (Fds[1].revents) return TWake::Stopped;
        if (Fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
            if (FReading && !FEnded) return ReceiveOnce();
            if (WantWrite) return TWake::Ready; // the send that follows reports the failure
            if (!FEnded && (Fds[0].revents & (POLLERR | POLLHUP))) {
                // A peer that stopped reading still learns of a client that closed or reset.
                FEnded = true;
                FPeer.Mark(FIndex, &TRecord::ClientClosed);
                return TWake::ClientClosed;
            }
        }
        if (Fds[0].revents & POLLOUT) return TWake::Ready;
        if (Fds[2].revents) return TWake::Released;
        if (Fds[3].revents) return TWake::NextClient;
        return TWake::Deadline;
    }

    // False when the connection or the peer is gone.
    bool SendAll(const char* Data, size_t Size) {
        size_t Sent = 0;
        while (Sent < Size) {
            ssize_t N = ::send(FFd, Data + Sent, Size - Sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (N > 0) {
                Sent += static_cast<size_t>(N);
                continue;
            }
            if (N < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                // Reset or gone: the client will not read on.
                FEnded = true;
                FPeer.Mark(FIndex, &TRecord::ClientClosed);
                return false;
            }
            if (Wait(true, Clock::time_point::max(), false) == TWake::Stopped) return false;
        }
        return true;
    }

    bool Stall(std::chrono::milliseconds Time) {
        auto Deadline = Clock::now() + Time;
        for (;;) {
            TWake Wake = Wait(false, Deadline, false);
            if (Wake == TWake::Stopped) return false;
            if (Wake == TWake::Deadline) return true;
        }
    }

    bool ReceiveUntil(const std::function<bool(const std::string&)>& Condition) {
        auto Deadline = Clock::now() + FPeer.FOptions.ReceiveDeadline;
        for (;;) {
            {
                std::lock_guard Lock(FPeer.FLock);
                if (Condition(FPeer.FRecords[FIndex].Received)) return true;
            }
            if (FEnded || !FReading) return false;
            TWake Wake = Wait(false, Deadline, false);
            if (Wake == TWake::Stopped || Wake == TWake::Deadline) return false;
        }
    }

    // Until the client closes, Release, a next client, or the peer stops; false only for the last.
    bool Hold() {
        for (;;) {
            if (FEnded) return true;
            TWake Wake = Wait(false, Clock::time_point::max(), true);
            if (Wake == TWake::Stopped) return false;
            if (Wake == TWake::Released || Wake == TWake::NextClient || Wake == TWake::ClientClosed)
                return true;
        }
    }

    void HalfClose() { ::shutdown(FFd, SHUT_WR); }

    void Reset() {
        linger Linger{1, 0};
        ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &Linger, sizeof Linger);
        ::close(FFd);
        FFd = -1;
    }

    bool Open() const { return FFd >= 0; }
    void StopReading() { FReading = false; }

private:
    TWake ReceiveOnce() {
        char Buffer[ChunkSize];
        ssize_t N = ::recv(FFd, Buffer, sizeof Buffer, MSG_DONTWAIT);
        if (N > 0) {
            FPeer.Append(FIndex, Buffer, static_cast<size_t>(N));
            return TWake::Data;
        }
        if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return TWake::Data;
        // The end of the stream, or a reset: either way the client is gone.
        FEnded = true;
        FPeer.Mark(FIndex, &TRecord::ClientClosed);
        return TWake::ClientClosed;
    }

    LoopbackPeer& FPeer;
    int FFd;
    size_t FIndex;
    bool FReading = true;
    bool FEnded = false;
};

// ---- LoopbackPeer ----

LoopbackPeer::LoopbackPeer(PeerScript Script, PeerOptions Options)
    : LoopbackPeer(std::vector<PeerScript>{std::move(Script)}, Options) {}

LoopbackPeer::LoopbackPeer(std::vector<PeerScript> Scripts, PeerOptions Options)
    : FScripts(std::move(Scripts)), FOptions(Options) {
    FStopEvent = ::eventfd(0, EFD_CLOEXEC);
    FReleaseEvent = ::eventfd(0, EFD_CLOEXEC);
    FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FStopEvent < 0 || FReleaseEvent < 0 || FListener < 0)
        throw std::runtime_error("LoopbackPeer: no descriptors");
    int One = 1;
    ::setsockopt(FListener, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
    // Set before listening, so accepted connections inherit it and announce a window to match.
    if (FOptions.ReceiveBufferSize > 0)
        ::setsockopt(FListener, SOL_SOCKET, SO_RCVBUF, &FOptions.ReceiveBufferSize,
                     sizeof FOptions.ReceiveBufferSize);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Length = sizeof Address;
    if (::bind(FListener, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0 ||
        ::listen(FListener, 16) != 0 ||
        ::getsockname(FListener, reinterpret_cast<sockaddr*>(&Address), &Length) != 0) {
        ::close(FListener);
        ::close(FStopEvent);
        ::close(FReleaseEvent);
        throw std::runtime_error("LoopbackPeer: cannot listen on 127.0.0.1");
    }
    FPort = ntohs(Address.sin_port);
    FThread = std::thread([this] { Serve(); });
}

LoopbackPeer::~LoopbackPeer() {
    Signal(FStopEvent);
    FThread.join();
    ::close(FListener);
    ::close(FStopEvent);
    ::close(FReleaseEvent);
}

void LoopbackPeer::Serve() {
    for (size_t Index = 0;;) {
        pollfd Fds[2] = {{FListener, POLLIN, 0}, {FStopEvent, POLLIN, 0}};
        while (::poll(Fds, 2, -1) < 0 && errno == EINTR) {
        }
        if (Fds[1].revents) return;
        int Fd = ::accept4(FListener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (Fd < 0) continue;
        {
            std::lock_guard Lock(FLock);
            FRecords.emplace_back();
        }
        FChanged.notify_all();
        if (Index < FScripts.size()) {
            RunScript(Fd, FScripts[Index], Index);
        } else {
            ::close(Fd);
        }
        Mark(Index, &TRecord::Done);
        ++Index;
        if (IsSet(FStopEvent)) return;
    }
}

void LoopbackPeer::RunScript(int Fd, const PeerScript& Script, size_t Index) {
    TConnection Connection(*this, Fd, Index);
    for (const PeerScript::TStep& Step : Script.FSteps) {
        bool Ok = true;
        switch (Step.Kind) {
        case PeerScript::TKind::Send:
            Ok = Connection.SendAll(Step.Bytes.data(), Step.Bytes.size());
            break;
        case PeerScript::TKind::Pattern:
            for (uint64_t Offset = 0; Ok && Offset < Step.Count; Offset += ChunkSize) {
                std::string Chunk = PatternBytes(
                    Offset, static_cast<size_t>(std::min<uint64_t>(ChunkSize, Step.Count - Offset)));
                Ok = Connection.SendAll(Chunk.data(), Chunk.size());
            }
            break;
        case PeerScript::TKind::Repeated: {
            if (Step.Bytes.empty()) break;
            // Whole units per chunk, about ChunkSize bytes each.
            const uint64_t PerChunk = std::max<uint64_t>(1, ChunkSize / Step.Bytes.size());
            std::string Chunk;
            for (uint64_t I = 0; I < std::min(PerChunk, Step.Count); ++I) Chunk += Step.Bytes;
            for (uint64_t Sent = 0; Ok && Sent < Step.Count; Sent += PerChunk) {
                const uint64_t Units = std::min(PerChunk, Step.Count - Sent);
                Ok = Connection.SendAll(Chunk.data(), static_cast<size_t>(Units * Step.Bytes.size()));
            }
            break;
        }
        case PeerScript::TKind::Stall:
            Ok = Connection.Stall(Step.Time);
            break;
        case PeerScript::TKind::ReceiveUntil:
            Ok = Connection.ReceiveUntil(
                [&](const std::string& Got) { return Got.find(Step.Bytes) != std::string::npos; });
            break;
        case PeerScript::TKind::ReceiveAtLeast:
            Ok = Connection.ReceiveUntil([&](const std::string& Got) { return Got.size() >= Step.Count; });
            break;
        case PeerScript::TKind::StopReading:
            Connection.StopReading();
            break;
        case PeerScript::TKind::Hold:
            Ok = Connection.Hold();
            break;
        case PeerScript::TKind::Close:
            Connection.HalfClose();
            Ok = Connection.Hold();
            break;
        case PeerScript::TKind::Reset:
            Connection.Reset();
            return;
        }
        if (!Ok) return;
    }
    if (Connection.Open()) {
        // A plain close with unread bytes queued would reset the connection; half-closing first lets the
        // client read the end of the stream.
        Connection.HalfClose();
        Connection.Hold();
    }
}

void LoopbackPeer::Append(size_t Index, const char* Data, size_t Size) {
    {
        std::lock_guard Lock(FLock);
        FRecords[Index].Received.append(Data, Size);
    }
    FChanged.notify_all();
}

void LoopbackPeer::Mark(size_t Index, bool TRecord::*Flag) {
    {
        std::lock_guard Lock(FLock);
        if (Index < FRecords.size()) FRecords[Index].*Flag = true;
    }
    FChanged.notify_all();
}

bool LoopbackPeer::WaitFor(const std::function<bool()>& Condition, std::chrono::milliseconds Deadline) {
    std::unique_lock Lock(FLock);
    return FChanged.wait_for(Lock, Deadline, Condition);
}

std::string LoopbackPeer::Received(size_t Index) {
    std::lock_guard Lock(FLock);
    return Index < FRecords.size() ? FRecords[Index].Received : std::string();
}

size_t LoopbackPeer::Accepted() {
    std::lock_guard Lock(FLock);
    return FRecords.size();
}

bool LoopbackPeer::WaitReceived(const std::function<bool(const std::string&)>& Condition,
                                std::chrono::milliseconds Deadline, size_t Index) {
    return WaitFor([&] { return Index < FRecords.size() && Condition(FRecords[Index].Received); }, Deadline);
}

bool LoopbackPeer::WaitClientClosed(size_t Index, std::chrono::milliseconds Deadline) {
    return WaitFor([&] { return Index < FRecords.size() && FRecords[Index].ClientClosed; }, Deadline);
}

bool LoopbackPeer::WaitScriptDone(size_t Index, std::chrono::milliseconds Deadline) {
    return WaitFor([&] { return Index < FRecords.size() && FRecords[Index].Done; }, Deadline);
}

void LoopbackPeer::Release() {
    Signal(FReleaseEvent);
}
