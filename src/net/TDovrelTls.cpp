// TLS in the socket component: the handshake, and the two points where the bytes of every transfer
// enter and leave the component.
#include "net/TDovrel.h"
#include "net/TTimeoutScope.h"
#include "platform/Sockets.h"

#include <netinet/tcp.h>

void TDovrel::StartTls(TTlsContext& Context, const std::string& ServerName) {
    StatusMessage(8, "TLS Handshake");
    FTls = std::make_unique<TTlsChannel>(Context, SocketFd(), ServerName);
    // Every write becomes a record that is sent at once: the request's last short record must not wait
    // for the acknowledgement of the one before it, which the server may delay.
    const int NoDelay = 1;
    platform::setsockopt(SocketFd(), IPPROTO_TCP, TCP_NODELAY, &NoDelay, sizeof NoDelay);
    int Outcome = 0;
    {
        TTimeoutScope Timeout(*this);
        PumpUntil(
            [&] {
                if (CancelRequested) return true;
                Outcome = FTls->Handshake();
                return Outcome != 0;
            },
            TWaitFor::Readable);
    }
    if (Outcome == 1) return;
    if (TimedOut) throw ESockError("TLS Handshake Timed out");
    if (CancelRequested) throw ESockError("TLS Handshake Canceled");
    const int Error = platform::WSAGetLastError();
    LastErrorNo = Error;
    const std::string Message = SocketErrorStr(static_cast<uint16_t>(Error));
    if (OnError) OnError(this, static_cast<uint16_t>(Error), Message);
    throw ESockError("TLS handshake failed: " + Message);
}

int TDovrel::ReceiveBytes(char* Buffer, int Length, int Flags) {
    if (!FTls) return platform::recv(SocketFd(), Buffer, Length, Flags);
    const int Received = FTls->Receive(Buffer, Length, Flags);
    // A socket announces its bytes again after a receive that left some; bytes TLS holds decrypted are
    // announced the same way, since the socket itself may have nothing more to show.
    if (!(Flags & platform::MSG_PEEK_FLAG) && OnDataReady && FTls->HoldsBytes())
        platform::PostMessage(WindowHandle, SocketNotifyMessage, SocketHandle,
                              platform::MakeSelectReply(platform::FD_READ, 0));
    return Received;
}

int TDovrel::SendBytes(const char* Data, int Length) {
    if (FTls) return FTls->Send(Data, Length);
    return platform::send(SocketFd(), Data, Length, 0);
}
