// The reading of a proxy's reply to CONNECT (ReadConnectReply) from a socket pair: the input is written
// into one end, which is then closed, and a socket component reads the other end as its connection. The
// outcome is compared with a model of the rules, and on success the bytes after the reply must still be
// there for TLS, every one of them.
#include "FuzzCheck.h"
#include "framework/Exceptions.h"
#include "framework/TextHelpers.h"
#include "http/ConnectTunnel.h"
#include "net/SocketErrors.h"
#include "net/TDovrel.h"
#include "net/WordHelpers.h"
#include "platform/SocketTable.h"
#include "platform/Sockets.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Below the socket component's line limit, so a line without its end is a cut reply, not a long line.
constexpr size_t MaxInput = 65535;
// Small, so that the length limit is met often.
constexpr int64_t MaxBytes = 4096;

class FuzzSocket : public TDovrel {
public:
    using TDovrel::TDovrel;

    // Makes Fd the component's connection, as Connect would leave it.
    void Adopt(int Fd) {
        if (SocketHandle != NoSocket) platform::closesocket(SocketHandle);
        platform::SocketTable::Instance().Opened(Fd, platform::SocketTable::SocketState::Connected);
        SocketHandle = static_cast<uint16_t>(Fd);
        IsConnected = true;
    }
};

enum class Outcome { Open, Refused, Cut, TooLong };

// What the rules make of Reply, and how many bytes an open tunnel's reply takes.
Outcome Expected(const std::string& Reply, size_t& Taken) {
    size_t Pos = 0;
    bool First = true;
    for (;;) {
        const size_t Lf = Reply.find('\n', Pos);
        if (Lf == std::string::npos) return Outcome::Cut;
        const std::string Line = Reply.substr(Pos, Lf + 1 - Pos);
        Pos = Lf + 1;
        if (static_cast<int64_t>(Pos) > MaxBytes) return Outcome::TooLong;
        if (First) {
            std::string Status = Line.substr(0, Line.size() - 1);
            if (!Status.empty() && Status.back() == '\r') Status.pop_back();
            const int32_t Code = StrToIntDef(NthWord(Status, ' ', 2), 0);
            if (Code < 200 || Code > 299) return Outcome::Refused;
            First = false;
        } else if (Line == "\n" || Line == "\r\n") {
            Taken = Pos;
            return Outcome::Open;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size > MaxInput) return 0;
    static FuzzSocket Socket(nullptr);
    const std::string Reply(reinterpret_cast<const char*>(Data), Size);

    int Ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Ends) != 0) std::abort();
    const int Buffer = static_cast<int>(2 * MaxInput);
    ::setsockopt(Ends[1], SOL_SOCKET, SO_SNDBUF, &Buffer, sizeof Buffer);
    for (size_t Sent = 0; Sent < Size;) {
        const ssize_t N = ::send(Ends[1], Data + Sent, Size - Sent, MSG_NOSIGNAL);
        if (N <= 0) std::abort();
        Sent += static_cast<size_t>(N);
    }
    ::close(Ends[1]);
    Socket.Adopt(Ends[0]);

    Outcome Got = Outcome::Open;
    std::string Message;
    try {
        ReadConnectReply(Socket, MaxBytes);
    } catch (const ERangeError&) {
        Got = Outcome::TooLong;
    } catch (const ESockError& E) {
        Message = E.Message;
        Got = Message.rfind("Proxy refused the tunnel: ", 0) == 0 ? Outcome::Refused : Outcome::Cut;
    }
    std::string Rest;
    if (Got == Outcome::Open) {
        char Chunk[4096];
        for (int N; (N = platform::recv(Ends[0], Chunk, sizeof Chunk, 0)) > 0;) Rest.append(Chunk, N);
    }
    Socket.Disconnect();

    size_t Taken = 0;
    FUZZ_CHECK(Got == Expected(Reply, Taken));
    if (Got == Outcome::Cut) FUZZ_CHECK(Message == "Connection closed before the proxy's tunnel reply ended");
    if (Got == Outcome::Refused) {
        // The status line, without its end, in the text (cut at 200 bytes).
        const std::string Status = Message.substr(26);
        FUZZ_CHECK(Status.size() <= 200 && Reply.compare(0, Status.size(), Status) == 0);
    }
    if (Got == Outcome::Open) FUZZ_CHECK(Rest == Reply.substr(Taken));
    std::string().swap(Socket.StatusText);
    return 0;
}
