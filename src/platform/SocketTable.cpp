#include "platform/SocketTable.h"

#include "platform/Immortal.h"
#include "platform/Sockets.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace platform {

namespace {

constexpr uint32_t CloseEvents = EPOLLRDHUP | EPOLLHUP | EPOLLERR;

int PendingSocketError(int Fd) {
    int Error = 0;
    socklen_t Length = sizeof Error;
    if (::getsockopt(Fd, SOL_SOCKET, SO_ERROR, &Error, &Length) != 0) return errno;
    return Error;
}

int BytesQueued(int Fd) {
    int Count = 0;
    return ::ioctl(Fd, FIONREAD, &Count) == 0 ? Count : 0;
}

// Where the kernel says the connection is; what we remember is kept when it cannot tell.
SocketTable::SocketState KernelState(int Fd, SocketTable::SocketState Known) {
    tcp_info Info{};
    socklen_t Length = sizeof Info;
    if (::getsockopt(Fd, IPPROTO_TCP, TCP_INFO, &Info, &Length) != 0) return Known;
    switch (Info.tcpi_state) {
    case TCP_SYN_SENT:
    case TCP_SYN_RECV:
        return SocketTable::SocketState::Connecting;
    case TCP_LISTEN:
        return SocketTable::SocketState::Listening;
    case TCP_CLOSE:
        return SocketTable::SocketState::Idle;
    default:
        return SocketTable::SocketState::Connected;
    }
}

int FdOf(uint64_t Tag) {
    return static_cast<int>(Tag & 0xFFFFFFFFu);
}

} // namespace

SocketTable& SocketTable::Instance() {
    static Immortal<SocketTable> Table;
    return Table.Get();
}

std::unique_lock<std::recursive_mutex>
SocketTable::LockRegisteredWindow(int Fd, std::unique_lock<std::mutex>& Guard) {
    // The window's dispatch lock comes before the table lock, the order a dispatch takes them in.
    for (;;) {
        std::shared_ptr<WindowEntry> Window;
        {
            std::lock_guard Peek(Lock);
            const auto It = Sockets.find(Fd);
            if (It != Sockets.end() && It->second.Reg) Window = It->second.Reg->Window;
        }
        std::unique_lock<std::recursive_mutex> WindowGuard;
        if (Window) WindowGuard = std::unique_lock(Window->DispatchMutex);
        Guard.lock();
        const auto It = Sockets.find(Fd);
        const auto Now = (It != Sockets.end() && It->second.Reg) ? It->second.Reg->Window : nullptr;
        if (Now == Window) return WindowGuard;
        Guard.unlock();
    }
}

void SocketTable::Opened(int Fd, SocketState State) {
    std::lock_guard Guard(Lock);
    auto& Socket = Sockets[Fd];
    if (Socket.Reg) UnregisterLocked(Fd, Socket);
    Socket = Entry{};
    Socket.State = State;
    Socket.EverConnected = State == SocketState::Connected;
}

int SocketTable::Select(int Fd, HWND Window, UINT Message, long Events) {
    std::shared_ptr<WindowEntry> Target;
    if (Events != 0) {
        Target = WindowTable::Instance().Find(Window);
        if (!Target) return WSAEINVAL;
    }
    int Type = 0;
    socklen_t Length = sizeof Type;
    if (::getsockopt(Fd, SOL_SOCKET, SO_TYPE, &Type, &Length) != 0) return ErrorFromErrno(errno);
    const int Flags = ::fcntl(Fd, F_GETFL);
    if (Flags < 0 || ::fcntl(Fd, F_SETFL, Flags | O_NONBLOCK) < 0) return ErrorFromErrno(errno);

    std::unique_lock Guard(Lock, std::defer_lock);
    const auto WindowGuard = LockRegisteredWindow(Fd, Guard);
    auto& Socket = Sockets[Fd];
    if (Socket.Reg) UnregisterLocked(Fd, Socket);
    if (Events == 0) return 0;

    Socket.State = KernelState(Fd, Socket.State);
    Socket.EverConnected = Socket.EverConnected || Socket.State == SocketState::Connected;
    Registration Reg;
    Reg.Window = std::move(Target);
    Reg.Message = Message;
    Reg.Events = Events;
    Reg.Tag = (static_cast<uint64_t>(NextGeneration++) << 32) | static_cast<uint32_t>(Fd);
    if (NextGeneration == 0) NextGeneration = 1; // tags stay above the queue's own
    Reg.ReadArmed = Events & FD_READ;
    Reg.OobArmed = Events & FD_OOB;
    Reg.AcceptArmed = Events & FD_ACCEPT;
    Reg.WriteArmed = Events & FD_WRITE;
    Socket.Reg = std::move(Reg);
    // Level-triggered: a condition already true when the socket is selected is reported at once.
    UpdateInterestLocked(Fd, Socket);
    if (Socket.Reg->Interest == 0 && WantedInterest(Fd, Socket) != 0) {
        const int Error = ErrorFromErrno(errno);
        Socket.Reg.reset();
        return Error;
    }
    return 0;
}

void SocketTable::ConnectStarted(int Fd) {
    std::lock_guard Guard(Lock);
    auto& Socket = Sockets[Fd];
    Socket.State = SocketState::Connecting;
    Socket.PendingError = 0;
    if (Socket.Reg) {
        auto& Reg = *Socket.Reg;
        Reg.PeerClosed = Reg.ClosePosted = false;
        Reg.ReadArmed = Reg.Events & FD_READ;
        Reg.OobArmed = Reg.Events & FD_OOB;
        Reg.WriteArmed = Reg.Events & FD_WRITE;
        UpdateInterestLocked(Fd, Socket);
    }
}

void SocketTable::ListenStarted(int Fd) {
    std::lock_guard Guard(Lock);
    auto& Socket = Sockets[Fd];
    Socket.State = SocketState::Listening;
    if (Socket.Reg) {
        Socket.Reg->AcceptArmed = Socket.Reg->Events & FD_ACCEPT;
        UpdateInterestLocked(Fd, Socket);
    }
}

void SocketTable::Received(int Fd) {
    std::lock_guard Guard(Lock);
    const auto It = Sockets.find(Fd);
    if (It == Sockets.end() || !It->second.Reg) return;
    auto& Reg = *It->second.Reg;
    Reg.ReadArmed = Reg.Events & FD_READ;
    Reg.OobArmed = Reg.Events & FD_OOB;
    UpdateInterestLocked(Fd, It->second);
}

void SocketTable::Accepted(int Fd) {
    std::lock_guard Guard(Lock);
    const auto It = Sockets.find(Fd);
    if (It == Sockets.end() || !It->second.Reg) return;
    It->second.Reg->AcceptArmed = It->second.Reg->Events & FD_ACCEPT;
    UpdateInterestLocked(Fd, It->second);
}

void SocketTable::SendBlocked(int Fd) {
    std::lock_guard Guard(Lock);
    const auto It = Sockets.find(Fd);
    if (It == Sockets.end() || !It->second.Reg) return;
    It->second.Reg->WriteArmed = It->second.Reg->Events & FD_WRITE;
    UpdateInterestLocked(Fd, It->second);
}

int SocketTable::TakeError(int Fd, bool Keep) {
    std::lock_guard Guard(Lock);
    const auto It = Sockets.find(Fd);
    if (It == Sockets.end()) return 0;
    const int Error = It->second.PendingError;
    if (!Keep) It->second.PendingError = 0;
    return Error;
}

bool SocketTable::NeverConnected(int Fd) const {
    std::lock_guard Guard(Lock);
    const auto It = Sockets.find(Fd);
    return It != Sockets.end() && !It->second.EverConnected;
}

int SocketTable::Close(int Fd) {
    std::unique_lock Guard(Lock, std::defer_lock);
    const auto WindowGuard = LockRegisteredWindow(Fd, Guard);
    const auto It = Sockets.find(Fd);
    if (It != Sockets.end()) {
        if (It->second.Reg) UnregisterLocked(Fd, It->second);
        Sockets.erase(It);
    }
    // Closed under the table lock: the number may be handed out again the moment it is free, and the
    // new socket must find a clean table.
    return ::close(Fd) == 0 ? 0 : errno;
}

void SocketTable::ForgetWindow(HWND Window) {
    std::lock_guard Guard(Lock);
    for (auto& [Fd, Socket] : Sockets)
        if (Socket.Reg && Socket.Reg->Window->Handle == Window) UnregisterLocked(Fd, Socket);
}

void SocketTable::OnReady(MessageQueue& Queue, uint64_t Tag, uint32_t Events) {
    std::lock_guard Guard(Lock);
    const int Fd = FdOf(Tag);
    const auto It = Sockets.find(Fd);
    if (It == Sockets.end() || !It->second.Reg || It->second.Reg->Tag != Tag ||
        It->second.Reg->Window->Queue.get() != &Queue)
        return;
    auto& Socket = It->second;
    auto& Reg = *Socket.Reg;

    if (Socket.State == SocketState::Connecting) {
        const int Error = PendingSocketError(Fd);
        sockaddr_storage Peer{};
        socklen_t Length = sizeof Peer;
        if (Error == 0 && ::getpeername(Fd, reinterpret_cast<sockaddr*>(&Peer), &Length) == 0) {
            Socket.State = SocketState::Connected;
            Socket.EverConnected = true;
            if (Reg.Events & FD_CONNECT) Notify(Fd, Reg, FD_CONNECT, 0);
        } else {
            // A failed connect reports itself through the connect event alone; the socket never was
            // connected, so there is nothing to close.
            Socket.State = SocketState::Idle;
            if (Reg.Events & FD_CONNECT)
                Notify(Fd, Reg, FD_CONNECT, ErrorFromErrno(Error ? Error : ENOTCONN));
        }
    }

    if (Socket.State == SocketState::Connected) {
        if ((Events & CloseEvents) && !Reg.PeerClosed) {
            Reg.PeerClosed = true;
            if (Events & EPOLLERR) {
                // Reading the error clears it in the kernel; keep it so the next recv or send still
                // fails with it, as it would have.
                const int Error = PendingSocketError(Fd);
                Socket.PendingError = Error;
                Reg.CloseError = Error ? ErrorFromErrno(Error) : 0;
            }
        }
        // After the peer has gone, readability without queued bytes is only the end of the stream, which
        // the close event reports.
        if (Reg.ReadArmed && (Events & EPOLLIN) && (!Reg.PeerClosed || BytesQueued(Fd) > 0)) {
            Reg.ReadArmed = false;
            Notify(Fd, Reg, FD_READ, 0);
        }
        if (Reg.OobArmed && (Events & EPOLLPRI)) {
            Reg.OobArmed = false;
            Notify(Fd, Reg, FD_OOB, 0);
        }
        if (Reg.WriteArmed && (Events & EPOLLOUT)) {
            Reg.WriteArmed = false;
            Notify(Fd, Reg, FD_WRITE, 0);
        }
        if (Reg.PeerClosed && (Reg.Events & FD_CLOSE) && !Reg.ClosePosted) {
            Reg.ClosePosted = true;
            Notify(Fd, Reg, FD_CLOSE, Reg.CloseError);
        }
    } else if (Socket.State == SocketState::Listening) {
        if (Reg.AcceptArmed && (Events & EPOLLIN)) {
            Reg.AcceptArmed = false;
            Notify(Fd, Reg, FD_ACCEPT, 0);
        }
    }
    UpdateInterestLocked(Fd, Socket);
}

bool SocketTable::IsCurrent(uint64_t Tag) const {
    std::lock_guard Guard(Lock);
    const auto It = Sockets.find(FdOf(Tag));
    return It != Sockets.end() && It->second.Reg && It->second.Reg->Tag == Tag;
}

uint32_t SocketTable::WantedInterest(int Fd, const Entry& Socket) const {
    if (!Socket.Reg) return 0;
    const auto& Reg = *Socket.Reg;
    // Every event asked for here is either posted and disarmed, or left out, when it is reported; the
    // hang-up and error events that epoll adds on its own end in the close handling the same way.
    switch (Socket.State) {
    case SocketState::Idle:
        return 0; // a socket that is not connected reports a hang-up at once, so it is not watched
    case SocketState::Connecting:
        return EPOLLOUT;
    case SocketState::Listening:
        return Reg.AcceptArmed ? uint32_t{EPOLLIN} : 0u;
    case SocketState::Connected: {
        uint32_t Interest = 0;
        if (Reg.ReadArmed && (!Reg.PeerClosed || BytesQueued(Fd) > 0)) Interest |= EPOLLIN;
        if (Reg.OobArmed && !Reg.PeerClosed) Interest |= EPOLLPRI;
        if (Reg.WriteArmed) Interest |= EPOLLOUT;
        if ((Reg.Events & FD_CLOSE) && !Reg.ClosePosted && !Reg.PeerClosed) Interest |= EPOLLRDHUP;
        return Interest;
    }
    }
    return 0;
}

void SocketTable::UpdateInterestLocked(int Fd, Entry& Socket) {
    auto& Reg = *Socket.Reg;
    const uint32_t Wanted = WantedInterest(Fd, Socket);
    if (Wanted == Reg.Interest) return;
    auto& Queue = *Reg.Window->Queue;
    if (Wanted == 0) {
        Queue.Unwatch(Fd);
        Reg.Interest = 0;
        return;
    }
    const bool Done =
        Reg.Interest == 0 ? Queue.Watch(Fd, Wanted, Reg.Tag) : Queue.Rewatch(Fd, Wanted, Reg.Tag);
    if (Done) Reg.Interest = Wanted;
}

void SocketTable::UnregisterLocked(int Fd, Entry& Socket) {
    auto& Reg = *Socket.Reg;
    if (Reg.Interest != 0) Reg.Window->Queue->Unwatch(Fd);
    const uint64_t Tag = Reg.Tag;
    Reg.Window->Queue->Purge(
        [Tag](const QueuedMessage& M) { return M.Kind == MessageKind::SocketNotice && M.Tag == Tag; });
    Socket.Reg.reset();
}

void SocketTable::Notify(int Fd, Registration& Reg, long Event, int Error) {
    QueuedMessage Notice;
    Notice.Window = Reg.Window->Handle;
    Notice.Message = Reg.Message;
    Notice.WParam = static_cast<WPARAM>(Fd);
    Notice.LParam = MakeSelectReply(static_cast<uint16_t>(Event), static_cast<uint16_t>(Error));
    Notice.Kind = MessageKind::SocketNotice;
    Notice.Tag = Reg.Tag;
    Reg.Window->Queue->Post(std::move(Notice));
}

} // namespace platform
