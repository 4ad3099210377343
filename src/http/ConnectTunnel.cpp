#include "http/ConnectTunnel.h"

#include "framework/TextHelpers.h"
#include "net/TTimeoutScope.h"
#include "net/WordHelpers.h"

namespace {

const char* const TunnelRefusedText = "Proxy refused the tunnel: ";
const char* const TunnelCutText = "Connection closed before the proxy's tunnel reply ended";
// A status line goes into the failure's text; a longer one is cut there.
constexpr size_t StatusLineShown = 200;

std::string WithoutLineEnd(std::string Line) {
    if (!Line.empty() && Line.back() == '\n') Line.pop_back();
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    return Line;
}

void RefuseLineBreaks(const std::string& Text) {
    if (Text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw Exception("A line break in a CONNECT request: " + Text.substr(0, StatusLineShown));
}

} // namespace

std::string ConnectRequest(const std::string& Authority, const std::string& UserAgent,
                           const std::string& ProxyAuthorization) {
    for (const std::string* Text : {&Authority, &UserAgent, &ProxyAuthorization}) RefuseLineBreaks(*Text);
    std::string Request = "CONNECT " + Authority + " HTTP/1.0\r\n";
    if (!UserAgent.empty()) Request += "User-Agent: " + UserAgent + "\r\n";
    if (!ProxyAuthorization.empty()) Request += "Proxy-Authorization: " + ProxyAuthorization + "\r\n";
    return Request + "\r\n";
}

void ReadConnectReply(TDovrel& Socket, int64_t MaxBytes) {
    TTimeoutScope Timeout(Socket);
    int64_t Bytes = 0;
    auto NextLine = [&] {
        std::string Line = Socket.ReadLn();
        if (Line.empty()) throw ESockError(TunnelCutText);
        Bytes += static_cast<int64_t>(Line.size());
        if (Bytes > MaxBytes)
            throw ERangeError("Proxy's tunnel reply longer than " + std::to_string(MaxBytes) + " bytes");
        return Line;
    };
    const std::string Status = WithoutLineEnd(NextLine());
    const int32_t Code = StrToIntDef(NthWord(Status, ' ', 2), 0);
    if (Code < 200 || Code > 299) throw ESockError(TunnelRefusedText + Status.substr(0, StatusLineShown));
    for (std::string Line = NextLine(); Line != "\n" && Line != "\r\n";) Line = NextLine();
}
