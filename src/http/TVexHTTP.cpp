#include "TVexHTTP.h"

#include "codec/TVexURL.h"
#include "codec/TVexUUProcessor.h"
#include "framework/TFileStream.h"
#include "framework/TMemoryStream.h"
#include "framework/TextHelpers.h"
#include "net/TDeadlineScope.h"
#include "net/WordHelpers.h"

#include <cstddef>
#include <string_view>
#include <utility>

namespace {

const char* const TransactionCompletedText = "Transaction Completed";
const char* const EmptyURLText = "Empty URL";
const char* const SecureNotSupportedText = "HTTP Secure Socket is not supported";
const char* const TooManyRedirectsText = "Too many redirects";

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

// Refuses a text that goes into the request head as it stands: a CR, LF or zero byte in it would end its
// line early and let whoever wrote it (a list line, a peer's redirect) add header lines of their own.
void RefuseLineBreaks(const std::string& Text, const char* Field) {
    if (Text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        throw Exception(std::string(Field) + " holds a line break or a zero byte");
}

bool SendsTargetURI(CmdType Cmd) {
    return Cmd == CmdType::CmdCOPY || Cmd == CmdType::CmdMOVE || Cmd == CmdType::CmdLINK ||
           Cmd == CmdType::CmdUNLINK;
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

// Gives a text back the value it had when the scope began, however the scope ends.
class RestoreOnExit {
public:
    explicit RestoreOnExit(std::string& Text) : FText(Text), FSaved(Text) {}
    ~RestoreOnExit() { FText.swap(FSaved); }
    RestoreOnExit(const RestoreOnExit&) = delete;
    RestoreOnExit& operator=(const RestoreOnExit&) = delete;

private:
    std::string& FText;
    std::string FSaved;
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
    // A cookie that a redirect sets belongs to the command that followed it: a later command, maybe to
    // another proxy or origin, sends only what the caller set.
    RestoreOnExit CallersCookie(HeaderInfo->Cookie);
    if (MaxBodySize < 0) throw ERangeError("MaxBodySize " + std::to_string(MaxBodySize) + " is negative");
    // TimeOut bounds the command as a whole, every redirect with its look-up, connect, request, header
    // and body included; each wait keeps its own time-out within that.
    TDeadlineScope Deadline(*this, TimeOut);
    int Redirects = 0;
    for (;;) {
        ParseURL();
        AssembleHTTPHeader();
        if (OnAboutToSend) OnAboutToSend(this);

        int S = 0;
        bool Follows = false;
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
            } else if (FollowsLocation(S) && !Location.empty()) {
                // A redirect that names no target ends the command: there is nowhere to go.
                Follows = true;
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
        if (Follows) {
            // The peer's texts go into the next request; refused under their own names.
            RefuseLineBreaks(Location, "Location");
            RefuseLineBreaks(ReceivedCookie, "Set-Cookie");
            // 303 asks for the target to be fetched, not for the request to be repeated there: the next
            // pass is a GET (a HEAD stays one) and sends no body. 307 and 308 repeat command and body.
            if (S == 303 && CurrentCmd != CmdType::CmdHEAD) CurrentCmd = CmdType::CmdGET;
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
        if (!Follows) return;
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
    // A port that is no TCP port would be cut to its low 16 bits by the connect, reaching another service.
    if (Port < 1 || Port > 65535) throw ERangeError("Port " + std::to_string(Port) + " out of range");
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
    // Before anything is built or sent. The credentials travel Base64-encoded and cannot break a line;
    // the proxy's name goes into no line, but one cut at a zero byte would be looked up as another host.
    RefuseLineBreaks(URL, "URL");
    RefuseLineBreaks(Host, "Host");
    RefuseLineBreaks(Proxy, "Proxy");
    RefuseLineBreaks(HeaderInfo->LocalProgram, "HeaderInfo.LocalProgram");
    RefuseLineBreaks(HeaderInfo->LocalMailAddress, "HeaderInfo.LocalMailAddress");
    RefuseLineBreaks(HeaderInfo->Cookie, "HeaderInfo.Cookie");
    RefuseLineBreaks(HeaderInfo->Referer, "HeaderInfo.Referer");
    if (SendsTargetURI(CurrentCmd)) RefuseLineBreaks(TargetURI, "TargetURI");
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
