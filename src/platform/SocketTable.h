#pragma once
// The process-wide table of sockets and their notification registrations. It turns epoll readiness into
// Winsock-style notifications: each event is posted once and then left out of the epoll interest until
// the call that re-enables it, so a condition that stays true (unread bytes, a peer that has gone) never
// makes a thread spin.
#include "platform/MessageQueue.h"
#include "platform/WindowTable.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace platform {

class SocketTable {
public:
    enum class SocketState { Idle, Connecting, Connected, Listening };

    static SocketTable& Instance();

    // A descriptor just made by socket() or accept(); whatever an earlier descriptor of the same number
    // left behind is forgotten.
    void Opened(int Fd, SocketState State);
    // Replaces the socket's registration; 0 or an error number.
    int Select(int Fd, HWND Window, UINT Message, long Events);
    void ConnectStarted(int Fd);
    void ListenStarted(int Fd);
    // Re-enabling calls.
    void Received(int Fd);
    void Accepted(int Fd);
    void SendBlocked(int Fd);
    // The error a close notification took from the socket (an errno value), so recv and send can still
    // report it; 0 when there is none. Peeking leaves it in place.
    int TakeError(int Fd, bool Keep);
    // True for a socket of the table that has never been connected (new, connecting, or its connect
    // failed); false for one that is or was connected or accepted, and for a descriptor the table does
    // not know.
    bool NeverConnected(int Fd) const;
    // Unregisters, drops the socket's queued notifications and closes it; 0 or an errno value.
    int Close(int Fd);
    void ForgetWindow(HWND Window);

    // On the queue's own thread: readiness of the registration Tag.
    void OnReady(MessageQueue& Queue, uint64_t Tag, uint32_t Events);
    // Whether a notice of registration Tag may still be delivered.
    bool IsCurrent(uint64_t Tag) const;

private:
    struct Registration {
        std::shared_ptr<WindowEntry> Window;
        UINT Message = 0;
        long Events = 0;
        uint64_t Tag = 0;
        uint32_t Interest = 0; // epoll events now asked for; 0 when not in the epoll set
        bool ReadArmed = false;
        bool OobArmed = false;
        bool AcceptArmed = false;
        bool WriteArmed = false;
        bool PeerClosed = false;
        bool ClosePosted = false;
        int CloseError = 0;
    };
    struct Entry {
        SocketState State = SocketState::Idle;
        // It has been connected at some time: a reset or a close does not make it a new socket.
        bool EverConnected = false;
        int PendingError = 0;
        std::optional<Registration> Reg;
    };

    std::unique_lock<std::recursive_mutex> LockRegisteredWindow(int Fd, std::unique_lock<std::mutex>& Guard);
    uint32_t WantedInterest(int Fd, const Entry& Socket) const;
    void UpdateInterestLocked(int Fd, Entry& Socket);
    void UnregisterLocked(int Fd, Entry& Socket);
    void Notify(int Fd, Registration& Reg, long Event, int Error);

    mutable std::mutex Lock;
    std::unordered_map<int, Entry> Sockets;
    uint32_t NextGeneration = 1;
};

} // namespace platform
