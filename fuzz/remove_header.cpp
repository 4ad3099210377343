// The reading of a response header (RemoveHeader) from a socket pair: the input is written into one end,
// which is then closed, and the component reads the other end as its connection.
#include "FuzzCheck.h"
#include "framework/Exceptions.h"
#include "framework/TextHelpers.h"
#include "http/TVexHTTP.h"
#include "net/WordHelpers.h"
#include "platform/SocketTable.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Larger inputs would not fit the socket buffers without a reader on the other side.
constexpr size_t MaxInput = 65536;

class FuzzHTTP : public TVexHTTP {
public:
    using TVexHTTP::RemoveHeader;
    using TVexHTTP::TVexHTTP;

    // Makes Fd the component's connection, as Connect would leave it, in place of the fresh socket that
    // the last Disconnect opened.
    void Adopt(int Fd) {
        if (SocketHandle != NoSocket) platform::closesocket(SocketHandle);
        platform::SocketTable::Instance().Opened(Fd, platform::SocketTable::SocketState::Connected);
        SocketHandle = static_cast<uint16_t>(Fd);
        IsConnected = true;
    }
};

// The status the first line announces: its second word, read as an integer that fits 16 bits.
int16_t ExpectedReplyCode(const std::string& Response) {
    const size_t Lf = Response.find('\n');
    if (Lf == std::string::npos) return 0; // no whole line: ReadLn gives the empty text
    std::string Line = Response.substr(0, Lf);
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    const int32_t Code = StrToIntDef(NthWord(Line, ' ', 2), 0);
    return static_cast<int16_t>(Code >= INT16_MIN && Code <= INT16_MAX ? Code : 0);
}

// Gives back the memory the texts took, so that each execution frees what it allocated: libFuzzer runs its
// costly leak check after any execution that left more allocations than it freed.
void Forget(FuzzHTTP& Http) {
    for (std::string* Text : {&Http.Header, &Http.Location, &Http.ReceivedCookie, &Http.StatusText})
        std::string().swap(*Text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size > MaxInput) return 0;
    // One component for the run: making one opens a socket and a window.
    static FuzzHTTP& Http = []() -> FuzzHTTP& {
        static FuzzHTTP Component(nullptr);
        return Component;
    }();
    const std::string Response(reinterpret_cast<const char*>(Data), Size);

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
    Http.Adopt(Ends[0]);

    Http.Location = "earlier";
    Http.ReplyCode = 0; // as the driver leaves it
    bool Read = true;
    try {
        Http.RemoveHeader();
    } catch (const Exception&) {
        Read = false;
    }
    Http.Disconnect();
    if (!Read) {
        Forget(Http);
        return 0;
    }

    // The stored header is the response's beginning in whole lines, up to and with the blank line that
    // ended it (a peer that closes before that line makes RemoveHeader raise, handled above).
    FUZZ_CHECK(Response.compare(0, Http.Header.size(), Http.Header) == 0);
    FUZZ_CHECK(Http.Header.empty() || Http.Header.ends_with("\n"));
    FUZZ_CHECK(Http.Header.ends_with("\n\n") || Http.Header.ends_with("\n\r\n") ||
               Response.find('\n', Http.Header.size()) == std::string::npos);
    FUZZ_CHECK(Http.ReplyCode == ExpectedReplyCode(Response));
    FUZZ_CHECK(Http.ContentLength >= -1);
    FUZZ_CHECK(Http.TransferTotal >= 0);
    FUZZ_CHECK(Http.ReceivedCookie.find('\n') == std::string::npos);
    // Every response starts without a target: what Location holds now, this header named.
    FUZZ_CHECK(Http.Location.empty() || Http.Header.find(Http.Location) != std::string::npos);
    FUZZ_CHECK(Http.Location.find('\n') == std::string::npos);
    Forget(Http);
    return 0;
}
