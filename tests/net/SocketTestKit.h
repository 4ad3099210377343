#pragma once
// What the socket component tests share: a pump that waits on a condition, a component connected to a
// scripted loopback peer, and a window timer that cancels an operation from inside its wait.
#include "net/TDovrel.h"
#include "net/TThreadTimer.h"
#include "platform/Windows.h"
#include "support/LoopbackPeer.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/ioctl.h>

namespace sockettest {

using namespace std::chrono_literals;

// Runs the calling thread's message pump until Done holds or Limit has passed; tells whether Done held.
inline bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit = 10s) {
    const auto Deadline = std::chrono::steady_clock::now() + Limit;
    for (;;) {
        platform::ProcessMessages();
        if (Done()) return true;
        if (std::chrono::steady_clock::now() >= Deadline) return false;
        platform::WaitForWork(10);
    }
}

// Bytes queued for reading on the component's socket.
inline int QueuedBytes(const TDovrel& Socket) {
    int Count = 0;
    ::ioctl(Socket.SocketHandle, FIONREAD, &Count);
    return Count;
}

// Waits until the component has handled the close notification of its peer while bytes were still
// queued, so that it stays connected: the notification looks for queued bytes, and that look is
// reported at level 8.
inline bool WaitForCloseWithBytesQueued(TDovrel& Socket) {
    bool Looked = false;
    Socket.ReportLevel = 8;
    Socket.OnStatus = [&](TComponent*, const std::string& Status) {
        Looked = Looked || Status == "Data Available";
    };
    bool Handled = PumpUntil([&] { return Looked; });
    Socket.ReportLevel = 0;
    Socket.OnStatus = nullptr;
    return Handled && Socket.IsConnected;
}

// A component connected to a loopback peer that runs Script.
struct TConnected {
    explicit TConnected(PeerScript Script, PeerOptions Options = {}) : Peer(std::move(Script), Options) {
        Socket.Host = "127.0.0.1";
        Socket.Port = Peer.Port();
        Socket.Connect();
    }
    LoopbackPeer Peer;
    TDovrel Socket{nullptr};
};

// Calls Cancel on Target once, Milliseconds after its construction, from a window timer of the test's
// thread, so the cancel arrives inside the wait of whatever operation runs then.
class TCancelLater {
public:
    TCancelLater(TDovrel& Target, uint32_t Milliseconds) : FTimer(nullptr) {
        FTimer.SetInterval(Milliseconds);
        FTimer.SetOnTimer([this, &Target](TComponent*) {
            FTimer.SetEnabled(false);
            ++Fired;
            Target.Cancel();
        });
    }
    int Fired = 0;

private:
    TThreadTimer FTimer;
};

// Runs Operation and returns the message of the exception of type E it raises ("" when none).
template <typename E> std::string MessageOf(const std::function<void()>& Operation) {
    try {
        Operation();
    } catch (const E& Error) {
        return Error.Message;
    }
    return "";
}

} // namespace sockettest
