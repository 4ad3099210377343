#include "TVexHTTP.h"

#include "codec/TVexURL.h"
#include "codec/TVexUUProcessor.h"
#include "framework/TFileStream.h"
#include "framework/TMemoryStream.h"
#include "framework/TextHelpers.h"
#include "net/TTimeoutScope.h"
#include "net/WordHelpers.h"

#include <cstddef>
#include <optional>
#include <utility>

namespace {

const char* const TransactionCompletedText = "Transaction Completed";
const char* const EmptyURLText = "Empty URL";
const char* const SecureNotSupportedText = "HTTP Secure Socket is not supported";
const char* const TooManyRedirectsText = "Too many redirects";
const char* const HeaderCutText = "Connection closed before the response header ended";

// Request line method texts, indexed by CmdType; CmdWRAPPED sends no request line.
const char* const MethodTexts[] = {"GET ",  "OPTIONS ", "HEAD ", "POST ",   "PUT ",   "PATCH ", "COPY ",
                                   "MOVE ", "DELETE ",  "LINK ", "UNLINK ", "TRACE ", ""};

bool SendsBody(CmdType Cmd, bool OutputFileMode) {
    switch (Cmd) {
    case CmdType::CmdPOST:
    case CmdType::CmdPUT:
    case CmdType::CmdPATCH:
    case CmdType::CmdTRACE:
    case CmdType::CmdWRAPPED:
        return true;
    // The link commands carry "Send.dat" only when there is such a file to send; a Content-Length of
    // the bare name's length with no body would leave the peer waiting for bytes that never come.
    case CmdType::CmdLINK:
    case CmdType::CmdUNLINK:
        return OutputFileMode;
    default:
        return false;
    }
}

// 300 to 302 as described, and 303, 307 and 308, whose Location names the next request just the same.
bool FollowsLocation(int S) {
    return (S >= 300 && S <= 303) || S == 307 || S == 308;
}

std::string WithoutLineEnd(const std::string& Line) {
    size_t End = Line.size();
    if (End > 0 && Line[End - 1] == '\n') --End;
    if (End > 0 && Line[End - 1] == '\r') --End;
    return Line.substr(0, End);
}

bool IsHeaderEnd(const std::string& Line) {
    return Line == "\n" || Line == "\r\n";
}

bool IsDigit(char C) {
    return C >= '0' && C <= '9';
}

// The described reading of a Content-Length value: skip what is not a digit, take the digits that
// follow. A number beyond 32 bits gives 0, "unknown", instead of a wrapped or negative total.
int32_t TransferTotalOf(const std::string& Value) {
    size_t Pos = 0;
    while (Pos < Value.size() && !IsDigit(Value[Pos])) ++Pos;
    int64_t Total = 0;
    for (; Pos < Value.size() && IsDigit(Value[Pos]); ++Pos) {
        Total = Total * 10 + (Value[Pos] - '0');
        if (Total > INT32_MAX) return 0;
    }
    return static_cast<int32_t>(Total);
}

// The body length a Content-Length value announces, when the value is a plain decimal number (blanks
// around it allowed); nullopt for anything else ("12ab", "-5", "", more than 18 digits), so that a
// doubtful length never cuts a body short.
std::optional<int64_t> BodyLengthOf(const std::string& Value) {
    size_t Pos = 0;
    auto IsBlank = [&](size_t P) { return Value[P] == ' ' || Value[P] == '\t'; };
    while (Pos < Value.size() && IsBlank(Pos)) ++Pos;
    size_t First = Pos;
    int64_t Length = 0;
    for (; Pos < Value.size() && IsDigit(Value[Pos]); ++Pos) {
        if (Pos - First >= 18) return std::nullopt;
        Length = Length * 10 + (Value[Pos] - '0');
    }
    if (Pos == First) return std::nullopt;
    while (Pos < Value.size() && IsBlank(Pos)) ++Pos;
    if (Pos != Value.size()) return std::nullopt;
    return Length;
}

// Closes the connection when an exception leaves a pass; the pass closes it itself on the normal path,
// where a failure of the close may go to the caller.
class DisconnectOnUnwind {
public:
    explicit DisconnectOnUnwind(TDovrel& Socket) : FSocket(&Socket) {}
    ~DisconnectOnUnwind() {
        if (!FSocket) return;
        try {
            FSocket->Disconnect();
        } catch (...) {
            // The exception already under way is the one the caller must see.
        }
    }
    DisconnectOnUnwind(const DisconnectOnUnwind&) = delete;
    DisconnectOnUnwind& operator=(const DisconnectOnUnwind&) = delete;

    void Disconnect() { std::exchange(FSocket, nullptr)->Disconnect(); }

private:
    TDovrel* FSocket;
};

} // namespace

TVexHTTP::TVexHTTP(TComponent* AOwner)
    : TDovrel(AOwner), SendHeader(std::make_unique<TExStringList>()),
      HeaderInfo(std::make_unique<THeaderInfo>()) {}

TVexHTTP::~TVexHTTP() = default;

void TVexHTTP::Abort() {
    // Ends a host look-up wait too, which Cancel alone does not reach.
    WaitDone = true;
    Cancel();
}

void TVexHTTP::Options(const std::string& AURL) {
    CurrentCmd = CmdType::CmdOPTIONS;
    URL = AURL;
    HTTPConnect();
}

void TVexHTTP::Get(const std::string& AURL) {
    CurrentCmd = CmdType::CmdGET;
    URL = AURL;
    HTTPConnect();
}

void TVexHTTP::Post(const std::string& AURL, const std::string& Data) {
    CurrentCmd = CmdType::CmdPOST;
    URL = AURL;
    if (EncodePostData && !OutputFileMode) {
        auto Codec = std::make_unique<TVexURL>(this);
        Codec->InputString = Data;
        SendData = Codec->GetEncodeString();
    } else {
        SendData = Data;
    }
    HTTPConnect();
}

void TVexHTTP::Put(const std::string& AURL, const std::string& Data) {
    CurrentCmd = CmdType::CmdPUT;
    URL = AURL;
    SendData = Data;
    HTTPConnect();
}

void TVexHTTP::Head(const std::string& AURL) {
    CurrentCmd = CmdType::CmdHEAD;
    URL = AURL;
    HTTPConnect();
}

void TVexHTTP::Patch(const std::string& AURL, const std::string& Data) {
    CurrentCmd = CmdType::CmdPATCH;
    URL = AURL;
    SendData = Data;
    HTTPConnect();
}

void TVexHTTP::Delete(const std::string& AURL) {
    CurrentCmd = CmdType::CmdDELETE;
    URL = AURL;
    HTTPConnect();
}

void TVexHTTP::Trace(const std::string& AURL, const std::string& Data) {
    CurrentCmd = CmdType::CmdTRACE;
    URL = AURL;
    SendData = Data;
    HTTPConnect();
}

void TVexHTTP::Copy(const std::string& AURL, const std::string& Destination) {
    CurrentCmd = CmdType::CmdCOPY;
    URL = AURL;
    TargetURI = Destination;
    HTTPConnect();
}

void TVexHTTP::Move(const std::string& AURL, const std::string& Destination) {
    CurrentCmd = CmdType::CmdMOVE;
    URL = AURL;
    TargetURI = Destination;
    HTTPConnect();
}

void TVexHTTP::Link(const std::string& AURL, const std::string& ALink) {
    CurrentCmd = CmdType::CmdLINK;
    URL = AURL;
    TargetURI = ALink;
    SendData = "Send.dat";
    HTTPConnect();
}

void TVexHTTP::UnLink(const std::string& AURL, const std::string& ALink) {
    CurrentCmd = CmdType::CmdUNLINK;
    URL = AURL;
    TargetURI = ALink;
    SendData = "Send.dat";
    HTTPConnect();
}

void TVexHTTP::Wrapped(const std::string& AURL, const std::string& Data) {
    CurrentCmd = CmdType::CmdWRAPPED;
    URL = AURL;
    SendData = Data;
    HTTPConnect();
}

void TVexHTTP::HTTPConnect() {
    int Redirects = 0;
    for (;;) {
        ParseURL();
        AssembleHTTPHeader();
        if (OnAboutToSend) OnAboutToSend(this);

        int S = 0;
        {
            DisconnectOnUnwind Connection(*this);
            Connect();
            if (SecureURL) StartSecureChannel();
            SendHTTP();
            ReplyCode = 0;
            RemoveHeader();
            ReceiveBody();
            S = ReplyCode;
            if (S < 299) {
                if (OnSuccess) OnSuccess(CurrentCmd);
                StatusMessage(2, TransactionCompletedText);
            } else if (S > 399) {
                if (OnFailure) OnFailure(CurrentCmd);
            } else if (FollowsLocation(S)) {
                URL = Location;
            }
            Connection.Disconnect();
        }

        if (S > 299 && S < 399) {
            bool Handled = false;
            if (!ReceivedCookie.empty()) HeaderInfo->Cookie = ReceivedCookie;
            if (OnRedirect) OnRedirect(Handled);
            if (Handled) return;
        }
        if (FollowsLocation(S)) {
            // A Location without "/" is taken from the root of the host that sent it; one that begins with
            // a single "/" is made absolute too, so that a proxy learns the host. Both keep the scheme and
            // the port.
            const int DefaultPort = SecureURL ? 443 : 80;
            const std::string Origin = (SecureURL ? "https://" : "http://") + Host +
                                       (Port == DefaultPort ? "" : ":" + std::to_string(Port));
            if (URL.find('/') == std::string::npos)
                URL = Origin + "/" + URL;
            else if (!Host.empty() && URL[0] == '/' && URL.rfind("//", 0) != 0)
                URL = Origin + URL;
        }
        if (S == 401 && OnAuthenticationNeeded) OnAuthenticationNeeded(this);
        if (!FollowsLocation(S)) return;
        if (++Redirects > MaxRedirects) throw Exception(TooManyRedirectsText);
    }
}

void TVexHTTP::ParseURL() {
    if (URL.empty()) throw Exception(EmptyURLText);
    if (Port == 0) Port = 80;

    const bool HasDoubleSlash = URL.find("//") != std::string::npos;
    if (HasDoubleSlash) {
        // The path starts at the third "/", the one after the host.
        size_t Slash = std::string::npos;
        for (int N = 0; N < 3; ++N) {
            Slash = URL.find('/', Slash == std::string::npos ? 0 : Slash + 1);
            if (Slash == std::string::npos) break;
        }
        Path = Slash == std::string::npos ? std::string() : URL.substr(Slash);
    } else if (size_t Slash = URL.find('/'); Slash != std::string::npos) {
        Path = URL.substr(Slash);
    } else {
        Path.clear();
    }

    if (URL.find(':') != std::string::npos) {
        const std::string Scheme = LowerCase(NthWord(URL, ':', 1));
        if (Scheme == "gopher")
            Port = 70;
        else if (Scheme == "ftp")
            Port = 21;
        else if (Scheme == "https" && !SecureSocket)
            throw Exception(SecureNotSupportedText);
        else
            Port = Scheme == "https" ? 443 : 80;
        // Only a URL without ":" keeps the port it had, and with it the scheme.
        SecureURL = Scheme == "https";
    }

    std::string HostPart;
    if (HasDoubleSlash)
        HostPart = NthWord(URL, '/', 3);
    else if (URL[0] != '/')
        HostPart = NthWord(URL, '/', 1);
    if (size_t Colon = HostPart.find(':'); Colon != std::string::npos) {
        Port = StrToInt(NthWord(HostPart, ':', 2));
        HostPart.resize(Colon);
    }
    if (!HostPart.empty()) Host = HostPart;

    if (Path.empty()) {
        Path = "/";
        URL += "/";
    }
}

std::string TVexHTTP::EncodedCredentials() {
    const std::string Plain = HeaderInfo->UserId + ":" + HeaderInfo->Password;
    TMemoryStream Input;
    Input.WriteBuffer(Plain.data(), static_cast<int64_t>(Plain.size()));
    TMemoryStream Output;
    {
        auto Codec = std::make_unique<TVexUUProcessor>(this);
        Codec->InputStream = &Input;
        Codec->OutputStream = &Output;
        Codec->Method = uuMime;
        Codec->Encode();
    }
    // The codec breaks its text into lines; a header value must be one line, whatever its length.
    std::string Encoded;
    Encoded.reserve(static_cast<size_t>(Output.Size()));
    for (const char C : Output.DataString())
        if (C != '\r' && C != '\n') Encoded += C;
    return Encoded;
}

void TVexHTTP::AssembleHTTPHeader() {
    SendHeader->Clear();
    // Over a tunnel the request goes to the origin itself, in the origin's form.
    const bool ToProxy = !Proxy.empty() && !SecureURL;
    if (CurrentCmd != CmdType::CmdWRAPPED)
        SendHeader->Add(std::string(MethodTexts[static_cast<size_t>(CurrentCmd)]) + (ToProxy ? URL : Path) +
                        " HTTP/1.0");
    if (ToProxy) {
        SendHeader->Add("Proxy-Connection: Keep-Alive");
        SendHeader->Add("Host: " + Host);
    }
    SendHeader->SetValue("Host", Host);
    SendHeader->Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
    SendHeader->Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
    if (!HeaderInfo->LocalProgram.empty()) SendHeader->SetValue("User-Agent", HeaderInfo->LocalProgram);
    if (!HeaderInfo->LocalMailAddress.empty()) SendHeader->SetValue("From", HeaderInfo->LocalMailAddress);
    if (!HeaderInfo->Cookie.empty()) SendHeader->SetValue("Cookie", HeaderInfo->Cookie);
    if (!HeaderInfo->Referer.empty()) SendHeader->SetValue("Referer", HeaderInfo->Referer);
    if (!HeaderInfo->UserId.empty() && !HeaderInfo->Password.empty())
        SendHeader->SetValue("Authorization", "Basic " + EncodedCredentials());
    SendHeader->Add("Content-type: application/x-www-form-urlencoded");
    if (CurrentCmd == CmdType::CmdCOPY || CurrentCmd == CmdType::CmdMOVE)
        SendHeader->Add("URI-header: " + TargetURI);
    if (CurrentCmd == CmdType::CmdLINK || CurrentCmd == CmdType::CmdUNLINK)
        SendHeader->Add("Link: " + TargetURI);
    if (SendsBody(CurrentCmd, OutputFileMode)) {
        int64_t Length = 0;
        if (OutputFileMode) {
            TFileStream Data(SendData, TFileMode::OpenRead);
            Length = Data.Size();
        } else {
            Length = static_cast<int64_t>(SendData.size());
        }
        SendHeader->Add("Content-Length: " + std::to_string(Length));
    }
}

void TVexHTTP::SendHTTP() {
    if (SecureURL) {
        // One TLS record for the header and its empty line: a tunnel relays records as they come, and a
        // short last one would wait (Nagle) for the origin to acknowledge the one before it.
        Write(SendHeader->Text() + "\r\n");
    } else {
        Write(SendHeader->Text());
        Writeln("");
    }
    if (!SendsBody(CurrentCmd, OutputFileMode)) return;
    if (OutputFileMode)
        SendFile(SendData);
    else
        Write(SendData);
}

void TVexHTTP::RemoveHeader() {
    // The header is one operation under one time-out: a peer that drips it, each line within the
    // time-out, must not hold the command for ever.
    TTimeoutScope Timeout(*this);
    TransferTotal = 0;
    ReceivedCookie.clear();
    ContentLength = -1;
    bool LengthTrusted = true;

    std::optional<TFileStream> HeaderFile;
    if (OutputFileMode)
        HeaderFile.emplace(Header, TFileMode::Create);
    else
        Header.clear();
    auto Store = [&](const std::string& Line) {
        if (HeaderFile)
            HeaderFile->WriteBuffer(Line.data(), static_cast<int64_t>(Line.size()));
        else
            Header += Line;
    };

    int64_t HeaderBytes = 0;
    // A header that the peer cuts short by closing is no response, however much of it came: the body
    // and the status would be taken from a transfer that failed. One that never ends is cut here, long
    // before the memory (or the disk) it would fill.
    auto NextLine = [&] {
        std::string Next = ReadLn();
        if (Next.empty()) throw ESockError(HeaderCutText);
        HeaderBytes += static_cast<int64_t>(Next.size());
        if (HeaderBytes > MaxHeaderBytes)
            throw ERangeError("Response header longer than " + std::to_string(MaxHeaderBytes) + " bytes");
        return Next;
    };

    std::string Line = NextLine();
    // The status is read without the line end, so "HTTP/1.0 404\r\n" is 404, not "no status"; a number
    // that does not fit the 16-bit status is no status either, never a wrapped one.
    const int32_t Code = StrToIntDef(NthWord(WithoutLineEnd(Line), ' ', 2), 0);
    ReplyCode = static_cast<int16_t>(Code >= INT16_MIN && Code <= INT16_MAX ? Code : 0);
    Store(Line);

    do {
        Line = NextLine();
        const std::string Upper = UpperCase(Line);
        const std::string Name = NthWord(Upper, ' ', 1);
        if (Name == "SET-COOKIE:") {
            ReceivedCookie = WithoutLineEnd(Line.substr(12));
        } else if (Name == "LOCATION:") {
            Location = WithoutLineEnd(Line.substr(10));
        } else if (Name == "CONTENT-LENGTH:") {
            const std::string Value = WithoutLineEnd(Line.substr(Upper.find("ENGTH:") + 7));
            TransferTotal = TransferTotalOf(Value);
            // A length that cannot be read, or two lines that disagree, is no length at all.
            const std::optional<int64_t> Length = BodyLengthOf(Value);
            if (!Length || (ContentLength >= 0 && *Length != ContentLength))
                LengthTrusted = false;
            else
                ContentLength = *Length;
        }
        Store(Line);
    } while (!IsHeaderEnd(Line));

    if (!LengthTrusted) ContentLength = -1;
}

bool TVexHTTP::ResponseHasBody() const {
    const int S = ReplyCode;
    return CurrentCmd != CmdType::CmdHEAD && !(S >= 100 && S <= 199) && S != 204 && S != 304;
}

void TVexHTTP::ReceiveBody() {
    const int64_t Length = ResponseHasBody() ? ContentLength : 0;
    if (Length < 0) {
        // No announced length: the body is whatever arrives until the peer closes.
        if (InputFileMode)
            CaptureFile(Body);
        else
            CaptureString(Body, -1);
    } else if (InputFileMode) {
        CaptureFileCount(Body, Length);
    } else {
        Body.clear();
        CaptureStringCount(Body, Length);
    }
}
