#include "net/TAcceptBackOff.h"

#include "net/TDovrel.h"
#include "platform/Sockets.h"

#include <algorithm>

TAcceptBackOff::TAcceptBackOff(TDovrel& Listener)
    : FListener(Listener), FTimer(std::make_unique<TThreadTimer>(nullptr)) {
    FTimer->SetEnabled(false);
    FTimer->SetOnTimer([this](TComponent*) { Resume(); });
}

TAcceptBackOff::~TAcceptBackOff() = default;

void TAcceptBackOff::Failed(int ErrorNo) {
    if (!IsLocalSocketError(ErrorNo) || FPaused) return;
    FPauseMs = FPauseMs == 0 ? FirstPauseMs : std::min(FPauseMs * 2, LongestPauseMs);
    // No notification at all while paused: the socket is taken out of the notifications and selected
    // again when the pause ends, which reports a connection still waiting at once.
    platform::WSAAsyncSelect(FListener.SocketHandle, FListener.WindowHandle, SocketNotifyMessage, 0);
    FPaused = true;
    FTimer->SetInterval(FPauseMs);
    FTimer->SetEnabled(true);
}

void TAcceptBackOff::Succeeded() {
    FPauseMs = 0;
}

void TAcceptBackOff::Resume() {
    FTimer->SetEnabled(false);
    FPaused = false;
    platform::WSAAsyncSelect(FListener.SocketHandle, FListener.WindowHandle, SocketNotifyMessage,
                             platform::FD_ACCEPT);
}
