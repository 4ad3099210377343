// The socket component's hidden window: socket notifications and look-up completions become flag
// changes and events, on the thread that created the component. Also the time-out operations.
#include "framework/Exceptions.h"
#include "net/TDovrel.h"
#include "platform/Sockets.h"
#include "platform/Windows.h"

#include <thread>

namespace {

constexpr const char* SocketWindowClass = "TrelkWindowClass";

platform::LRESULT SocketWindowProc(platform::HWND Window, platform::UINT Message, platform::WPARAM WParam,
                                   platform::LPARAM LParam) {
    auto* Owner = reinterpret_cast<TDovrel*>(platform::GetWindowLongPtr(Window, 0));
    if (!Owner || Message < SocketNotifyMessage)
        return platform::DefWindowProc(Window, Message, WParam, LParam);
    TMessage Record{Message, WParam, LParam, 0};
    Owner->Wndproc(Record);
    return Record.Result;
}

} // namespace

platform::HWND SocketAllocateHWnd(TDovrel* Owner) {
    platform::WNDCLASS Info;
    if (!platform::GetClassInfo(SocketWindowClass, &Info)) {
        platform::WNDCLASS Class;
        Class.ClassName = SocketWindowClass;
        Class.WndProc = SocketWindowProc;
        Class.WndExtra = sizeof(intptr_t);
        // Another thread may have registered it in between; only a class that is still missing fails.
        if (!platform::RegisterClass(Class) && !platform::GetClassInfo(SocketWindowClass, &Info)) return 0;
    }
    platform::HWND Window = platform::CreateWindowEx(SocketWindowClass);
    if (Window && Owner) platform::SetWindowLongPtr(Window, 0, reinterpret_cast<intptr_t>(Owner));
    return Window;
}

void TDovrel::Wndproc(TMessage& Message) {
    try {
        // A notification for a socket this component no longer owns (one it closed, or one it accepted
        // and handed on) must not change its state: a late close would shut its current socket.
        if (Message.Msg == SocketNotifyMessage &&
            Message.WParam != static_cast<platform::WPARAM>(static_cast<uint16_t>(SocketHandle)))
            return;
        // A look-up completion answers only the look-up under way; any other (a late answer to one given
        // up on) must not end the wait, nor pass its outcome off as the current name's.
        const bool WaitingListener = platform::SelectEvent(Message.LParam) == platform::FD_ACCEPT;
        if (Message.Msg == LookupDoneMessage && !WaitingListener && !TakeLookupCompletion(Message.WParam))
            return;
        FLastEventError = platform::SelectError(Message.LParam);
        LastEventOk = FLastEventError == 0;
        if (Message.Msg == SocketNotifyMessage) {
            switch (platform::SelectEvent(Message.LParam)) {
            case platform::FD_READ:
                try {
                    if (OnDataReady) OnDataReady(this);
                } catch (...) {
                }
                break;
            case platform::FD_ACCEPT:
                IsConnected = true;
                if (OnAcceptReady) OnAcceptReady(this);
                break;
            case platform::FD_CONNECT:
                if (LastEventOk) {
                    IsConnected = true;
                    if (OnConnect) OnConnect(this);
                }
                break;
            case platform::FD_CLOSE:
                FPeerClosed = true;
                // A reset is a failed transfer, not an end: the socket stays, so the operation under way (or
                // the next one) meets the error itself. Replacing it here would leave a fresh socket whose
                // "not connected" reads as an orderly close, and a cut response as a complete one.
                if (!LastEventOk) break;
                // Over TLS only the stream can tell an orderly end (close_notify) from a cut; the reader
                // meets either, and the socket stays until it is closed.
                if (FTls) break;
                // Only the socket's own thread closes it: another thread may be using it this moment, and
                // the number of a descriptor closed under it may already be someone else's.
                if (SocketOwner.load() != std::this_thread::get_id()) break;
                // Bytes still queued are read first; the reader sees the close when they are gone.
                if (!DataAvailable()) RequestCloseSocket();
                break;
            default:
                break;
            }
        } else if (Message.Msg == LookupDoneMessage) {
            WaitDone = true;
            if (WaitingListener) {
                IsConnected = true;
                if (!IsDestroying() && OnDisconnect) OnDisconnect(this);
            }
        }
    } catch (...) {
        // Handlers run inside whatever wait pumped this message; their failures must not end it.
    }
}

bool TDovrel::TakeLookupCompletion(platform::WPARAM Handle) {
    std::lock_guard Guard(FLookupLock);
    if (FLookupHandle == 0 || Handle != FLookupHandle) return false;
    FLookupHandle = 0;
    return true;
}

void TDovrel::TimerOn() {
    StatusMessage(8, "Timer On");
    TimedOut = false;
    if (TimeOut < 0) throw ERangeError("TimeOut " + std::to_string(TimeOut) + " is negative");
    // The setters act only on a change, so arming a running timer again keeps its period.
    TimeoutTimer->SetInterval(static_cast<uint32_t>(TimeOut));
    TimeoutTimer->SetEnabled(true);
}

void TDovrel::TimerOff() {
    StatusMessage(8, "Timer Off");
    TimeoutTimer->SetEnabled(false);
}

void TDovrel::TimerFired(TComponent*) {
    StatusMessage(8, "Timer Triggered");
    TimerOff();
    TimedOut = true;
    WaitDone = true;
    Abort();
}
