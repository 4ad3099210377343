// ParseURL followed by AssembleHTTPHeader, with the component's proxy, host, header values and command
// taken from the input as well as the URL.
#include "FuzzCheck.h"
#include "codec/TVexUUProcessor.h"
#include "framework/Exceptions.h"
#include "framework/TMemoryStream.h"
#include "http/TVexHTTP.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace {

class FuzzHTTP : public TVexHTTP {
public:
    using TVexHTTP::AssembleHTTPHeader;
    using TVexHTTP::ParseURL;
    using TVexHTTP::TVexHTTP;
};

std::string Base64Decoded(const std::string& Text) {
    TMemoryStream In;
    In.WriteBuffer(Text.data(), static_cast<int64_t>(Text.size()));
    In.SetPosition(0);
    TMemoryStream Out;
    TVexUUProcessor Codec(nullptr);
    Codec.InputStream = &In;
    Codec.OutputStream = &Out;
    Codec.Decode();
    return Out.DataString();
}

bool OneLine(const std::string& Text) {
    return Text.find_first_of("\r\n") == std::string::npos;
}

// A CR, LF or zero byte: what would break a line of the request head.
bool BreaksALine(const std::string& Text) {
    return Text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    // One component for the run: making one opens a socket and a window.
    static FuzzHTTP Http(nullptr);
    FuzzedDataProvider In(Data, Size);
    Http.Proxy = In.ConsumeBool() ? In.ConsumeRandomLengthString(32) : std::string();
    Http.Host = In.ConsumeRandomLengthString(32);
    Http.Port = In.ConsumeBool() ? 0 : In.ConsumeIntegral<int32_t>();
    Http.CurrentCmd = static_cast<CmdType>(In.ConsumeIntegralInRange<int>(0, 12));
    THeaderInfo& Info = *Http.HeaderInfo;
    Info.LocalProgram = In.ConsumeRandomLengthString(32);
    Info.LocalMailAddress = In.ConsumeRandomLengthString(32);
    Info.Cookie = In.ConsumeRandomLengthString(32);
    Info.Referer = In.ConsumeRandomLengthString(32);
    Info.UserId = In.ConsumeRandomLengthString(32);
    Info.Password = In.ConsumeRandomLengthString(32);
    Http.TargetURI = In.ConsumeRandomLengthString(32);
    Http.SendData = In.ConsumeRandomLengthString(64);
    Http.OutputFileMode = false; // SendData would name a file to open
    Http.URL = In.ConsumeRemainingBytesAsString();
    const std::string URLBefore = Http.URL;
    const std::string HostBefore = Http.Host;

    try {
        Http.ParseURL();
    } catch (const Exception&) {
        return 0; // empty URL, https, a port that is no number
    }
    // The path is the URL's tail from a "/", the URL gaining a "/" when it had no path.
    FUZZ_CHECK(!Http.Path.empty() && Http.Path[0] == '/');
    FUZZ_CHECK(Http.URL == URLBefore || Http.URL == URLBefore + "/");
    FUZZ_CHECK(Http.URL.size() >= Http.Path.size() &&
               Http.URL.compare(Http.URL.size() - Http.Path.size(), std::string::npos, Http.Path) == 0);
    FUZZ_CHECK(Http.Host == HostBefore || URLBefore.find(Http.Host) != std::string::npos);

    // The texts that go into the head as they stand refuse the request when one would break a line; the
    // credentials go Base64-encoded, and the destination only with the commands that send it.
    const CmdType Cmd = Http.CurrentCmd;
    const bool SendsTarget = Cmd == CmdType::CmdCOPY || Cmd == CmdType::CmdMOVE || Cmd == CmdType::CmdLINK ||
                             Cmd == CmdType::CmdUNLINK;
    const bool Breaks = BreaksALine(Http.URL) || BreaksALine(Http.Host) || BreaksALine(Http.Proxy) ||
                        BreaksALine(Info.LocalProgram) || BreaksALine(Info.LocalMailAddress) ||
                        BreaksALine(Info.Cookie) || BreaksALine(Info.Referer) ||
                        (SendsTarget && BreaksALine(Http.TargetURI));
    bool Refused = false;
    try {
        Http.AssembleHTTPHeader();
    } catch (const Exception& E) {
        Refused = true;
        FUZZ_CHECK(std::string(E.what()).ends_with(" holds a line break or a zero byte"));
    }
    FUZZ_CHECK(Refused == Breaks);
    if (Refused) return 0;
    const TExStringList& Header = *Http.SendHeader;
    // Whatever the input, every line of the head is one line.
    for (int I = 0; I < Header.Count(); ++I) FUZZ_CHECK(!BreaksALine(Header.Get(I)));
    const std::string Method[] = {"GET ",  "OPTIONS ", "HEAD ", "POST ",   "PUT ",   "PATCH ", "COPY ",
                                  "MOVE ", "DELETE ",  "LINK ", "UNLINK ", "TRACE ", ""};
    if (Http.CurrentCmd != CmdType::CmdWRAPPED) {
        FUZZ_CHECK(Header.Count() > 0);
        FUZZ_CHECK(Header.Get(0) == Method[static_cast<int>(Http.CurrentCmd)] +
                                        (Http.Proxy.empty() ? Http.Path : Http.URL) + " HTTP/1.0");
    }
    // Each value the component sets is there once, as given; an empty one not at all.
    auto CheckValue = [&](const std::string& Name, const std::string& Value) {
        int Lines = 0;
        for (int I = 0; I < Header.Count(); ++I)
            if (Header.Get(I).rfind(Name + ": ", 0) == 0) ++Lines;
        if (Value.empty()) {
            FUZZ_CHECK(Lines == 0);
        } else {
            FUZZ_CHECK(Lines == 1);
            FUZZ_CHECK(Header.GetValue(Name) == Value);
        }
    };
    CheckValue("Host", Http.Host);
    CheckValue("User-Agent", Info.LocalProgram);
    CheckValue("From", Info.LocalMailAddress);
    CheckValue("Cookie", Info.Cookie);
    CheckValue("Referer", Info.Referer);
    const std::string Authorization = Header.GetValue("Authorization");
    if (Info.UserId.empty() || Info.Password.empty()) {
        FUZZ_CHECK(Authorization.empty());
    } else {
        FUZZ_CHECK(Authorization.rfind("Basic ", 0) == 0 && OneLine(Authorization));
        FUZZ_CHECK(Base64Decoded(Authorization.substr(6)) == Info.UserId + ":" + Info.Password);
    }
    const std::string Length = Header.GetValue("Content-Length");
    FUZZ_CHECK(Length.empty() || Length == std::to_string(Http.SendData.size()));
    return 0;
}
