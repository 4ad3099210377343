#include "HostilePeers.h"

#include <chrono>
#include <string>

namespace {

using namespace std::chrono_literals;

constexpr uint64_t OneMegabyte = 1024 * 1024;
constexpr size_t RedirectConnections = 25; // more than any client follows

// Every peer but the ones that answer early waits for the whole request header first.
PeerScript AfterRequest() {
    return PeerScript().ReceiveUntil("\r\n\r\n");
}

// Bytes of every value, with a line feed every 256 bytes and never two line ends in a row: lines that hold
// no status, no field and no empty line.
std::string BinaryGarbage(size_t Size) {
    std::string Bytes(Size, '\0');
    for (size_t I = 0; I < Size; ++I) Bytes[I] = static_cast<char>((I * 7 + 3) % 256);
    return Bytes;
}

// A body a kilobyte every 20 ms for half a minute: it never ends within any client time-out, and a
// client that keeps it in memory holds little.
PeerScript& EndlessPacedBody(PeerScript& Script) {
    const std::string Kilobyte(1024, 'b');
    for (int I = 0; I < 1500; ++I) Script.Send(Kilobyte).Stall(20ms);
    return Script;
}

} // namespace

HostileScene HostileScripts(HostileKind Kind) {
    HostileScene Scene;
    PeerScript Script = AfterRequest();
    switch (Kind) {
    case HostileKind::HeaderDrip: {
        // Lines of five bytes, each within half of a 400 ms time-out, a hundred of them.
        std::string Lines;
        for (int I = 0; I < 100; ++I) Lines += "X:1\r\n";
        std::vector<size_t> EveryByte;
        for (size_t I = 1; I < Lines.size(); ++I) EveryByte.push_back(I);
        Script.Send("HTTP/1.0 200 OK\r\n").SendInPackets(Lines, EveryByte, 40ms);
        break;
    }
    case HostileKind::EndlessHeader:
        Script.Send("HTTP/1.0 200 OK\r\n")
            .SendRepeated("X-Filler: " + std::string(59988, 'f') + "\r\n", 1000000);
        break;
    case HostileKind::HugeHeaderLine:
        Script.Send("HTTP/1.0 200 OK\r\nX-Big: ").SendRepeated("x", 100 * OneMegabyte).Send("\r\n\r\n");
        break;
    case HostileKind::HugeLocation:
        Script.Send("HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1/")
            .SendRepeated("l", OneMegabyte)
            .Send("\r\n\r\n");
        break;
    case HostileKind::HugeCookie:
        Script.Send("HTTP/1.0 200 OK\r\nSet-Cookie: c=").SendRepeated("c", OneMegabyte).Send("\r\n\r\nbody");
        break;
    case HostileKind::EndlessBody:
        Script.Send("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n");
        EndlessPacedBody(Script);
        break;
    case HostileKind::EndlessCountedBody:
        Script.Send("HTTP/1.0 200 OK\r\nContent-Length: 60000000\r\n\r\n");
        EndlessPacedBody(Script);
        break;
    case HostileKind::ResetInHeader:
        Script.Send("HTTP/1.0 200 OK\r\nServer: hostile\r\nX-Ha").Reset();
        break;
    case HostileKind::ResetInBody:
        Script.Send("HTTP/1.0 200 OK\r\n\r\n" + std::string(1000, 'b')).Reset();
        break;
    case HostileKind::ResetInCountedBody:
        Script.Send("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(1000, 'b')).Reset();
        break;
    case HostileKind::CloseBeforeStatus:
        Script.Close();
        break;
    case HostileKind::CloseInHeader:
        Script.Send("HTTP/1.0 200 OK\r\nX-Half: y").Close();
        break;
    case HostileKind::Garbage:
        Script.Send(BinaryGarbage(4096)).Close();
        break;
    case HostileKind::KeepAliveWithLength:
        Script.Send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello").Hold();
        break;
    case HostileKind::KeepAliveWithoutLength:
        Script.Send("HTTP/1.0 200 OK\r\n\r\nhello").Hold();
        break;
    case HostileKind::LengthBeyondBody:
        Script.Send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nshort").Hold();
        break;
    case HostileKind::NegativeLength:
        Script.Send("HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\nwhole body").Close();
        break;
    case HostileKind::LengthBeyond32Bits:
        Script.Send("HTTP/1.0 200 OK\r\nContent-Length: 4294967301\r\n\r\nshort").Close();
        break;
    case HostileKind::ChunkedClosed:
        Script.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n").Close();
        break;
    case HostileKind::ChunkedKeptAlive:
        Script.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n").Hold();
        break;
    case HostileKind::RedirectLoop:
        Script.Send("HTTP/1.0 302 Found\r\nLocation: /again\r\n\r\n").Close();
        Scene.Scripts.assign(RedirectConnections, Script);
        return Scene;
    case HostileKind::RedirectToHttps:
        // A client that follows asks the same peer for a tunnel, which it refuses.
        Script.Send("HTTP/1.0 302 Found\r\nLocation: https://127.0.0.1/secure\r\n\r\n").Close();
        Scene.Scripts = {Script, AfterRequest().Send("HTTP/1.0 403 Forbidden\r\n\r\n").Close()};
        return Scene;
    case HostileKind::Unauthorized:
        Script
            .Send("HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n"
                  "Content-Length: 6\r\n\r\ndenied")
            .Close();
        break;
    case HostileKind::NeverReads:
        Script = PeerScript().StopReading().Hold();
        Scene.Options.ReceiveBufferSize = 4096;
        break;
    case HostileKind::AnswersEarly:
        Script = PeerScript()
                     .ReceiveUntil("\r\n")
                     .Send("HTTP/1.0 413 Request Entity Too Large\r\nContent-Length: 5\r\n\r\nearly")
                     .Close();
        break;
    case HostileKind::AnswersEarlyThenResets:
        Script.Send("HTTP/1.0 413 Request Entity Too Large\r\nContent-Length: 5\r\n\r\nearly").Reset();
        Scene.Options.ReceiveBufferSize = 4096;
        break;
    }
    Scene.Scripts.push_back(Script);
    return Scene;
}

const char* HostileName(HostileKind Kind) {
    switch (Kind) {
    case HostileKind::HeaderDrip:
        return "HeaderDrip";
    case HostileKind::EndlessHeader:
        return "EndlessHeader";
    case HostileKind::HugeHeaderLine:
        return "HugeHeaderLine";
    case HostileKind::HugeLocation:
        return "HugeLocation";
    case HostileKind::HugeCookie:
        return "HugeCookie";
    case HostileKind::EndlessBody:
        return "EndlessBody";
    case HostileKind::EndlessCountedBody:
        return "EndlessCountedBody";
    case HostileKind::ResetInHeader:
        return "ResetInHeader";
    case HostileKind::ResetInBody:
        return "ResetInBody";
    case HostileKind::ResetInCountedBody:
        return "ResetInCountedBody";
    case HostileKind::CloseBeforeStatus:
        return "CloseBeforeStatus";
    case HostileKind::CloseInHeader:
        return "CloseInHeader";
    case HostileKind::Garbage:
        return "Garbage";
    case HostileKind::KeepAliveWithLength:
        return "KeepAliveWithLength";
    case HostileKind::KeepAliveWithoutLength:
        return "KeepAliveWithoutLength";
    case HostileKind::LengthBeyondBody:
        return "LengthBeyondBody";
    case HostileKind::NegativeLength:
        return "NegativeLength";
    case HostileKind::LengthBeyond32Bits:
        return "LengthBeyond32Bits";
    case HostileKind::ChunkedClosed:
        return "ChunkedClosed";
    case HostileKind::ChunkedKeptAlive:
        return "ChunkedKeptAlive";
    case HostileKind::RedirectLoop:
        return "RedirectLoop";
    case HostileKind::RedirectToHttps:
        return "RedirectToHttps";
    case HostileKind::Unauthorized:
        return "Unauthorized";
    case HostileKind::NeverReads:
        return "NeverReads";
    case HostileKind::AnswersEarly:
        return "AnswersEarly";
    case HostileKind::AnswersEarlyThenResets:
        return "AnswersEarlyThenResets";
    }
    return "Unknown";
}
