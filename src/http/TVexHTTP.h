#pragma once
// An HTTP/1.0 client, straight to the origin or through an HTTP proxy, on top of the socket component.
#include "codec/TExStringList.h"
#include "framework/Exceptions.h"
#include "http/CmdType.h"
#include "http/THeaderInfo.h"
#include "net/TDovrel.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

using TResultEvent = std::function<void(CmdType Cmd)>;

// Declared for callers; none of the component's operations raise it.
class HTTPException : public Exception {
public:
    using Exception::Exception;
};

class TVexHTTP : public TDovrel {
public:
    explicit TVexHTTP(TComponent* AOwner);
    ~TVexHTTP() override;

    void Abort() override;

    virtual void Options(const std::string& AURL);
    virtual void Get(const std::string& AURL);
    virtual void Post(const std::string& AURL, const std::string& Data);
    virtual void Put(const std::string& AURL, const std::string& Data);
    virtual void Head(const std::string& AURL);
    virtual void Patch(const std::string& AURL, const std::string& Data);
    virtual void Delete(const std::string& AURL);
    virtual void Trace(const std::string& AURL, const std::string& Data);
    virtual void Copy(const std::string& AURL, const std::string& Destination);
    virtual void Move(const std::string& AURL, const std::string& Destination);
    virtual void Link(const std::string& AURL, const std::string& ALink);
    virtual void UnLink(const std::string& AURL, const std::string& ALink);
    virtual void Wrapped(const std::string& AURL, const std::string& Data);

    // Published properties (OnPacketRecvd, OnPacketSent, Proxy and ProxyPort come from TDovrel).
    std::string Body = "Default.htm";
    std::string Header = "Head.txt";
    std::string Path;
    std::unique_ptr<TExStringList> SendHeader;
    std::string Location;
    std::unique_ptr<THeaderInfo> HeaderInfo;
    std::string ReceivedCookie;
    bool InputFileMode = false;
    bool OutputFileMode = false;
    bool EncodePostData = true;
    std::string SendData;
    std::string TargetURI;
    std::string URL;
    CmdType CurrentCmd = CmdType::CmdGET;
    TResultEvent OnSuccess;
    TResultEvent OnFailure;
    TNotifyEvent OnAboutToSend;
    THandlerEvent OnRedirect;
    TNotifyEvent OnAuthenticationNeeded;

    // https URLs: off (the default), they raise "HTTP Secure Socket is not supported"; on, each is
    // fetched over TLS (through a CONNECT tunnel when Proxy is set) with the certificate verified against
    // the system's store and, when CaFile names one, that certificate authority too.
    bool SecureSocket = false;
    std::string CaFile;
    // The URL of the current pass has the https scheme; set by ParseURL.
    bool SecureURL = false;

    // The body length the latest response header announced in a plain decimal Content-Length, -1 when it
    // announced none that can be trusted; the body then runs until the peer closes.
    int64_t ContentLength = -1;

    // The longest response body a command takes, in memory or in the Body file; a longer one (announced
    // or arriving) raises the range error. Must not be negative.
    int32_t MaxBodySize = 64 * 1024 * 1024;

    // A command follows at most this many redirects, then raises "Too many redirects".
    static constexpr int MaxRedirects = 20;
    // A response header (status line, fields and the empty line) longer than this raises the range error.
    static constexpr int64_t MaxHeaderBytes = 1 << 20;

protected:
    // The steps of one command, each replaceable by a descendant.
    virtual void HTTPConnect();
    virtual void ParseURL();
    virtual void AssembleHTTPHeader();
    virtual void RemoveHeader();
    virtual void SendHTTP();
    // For an https URL, right after Connect: the tunnel through the proxy when there is one, then TLS
    // with the host, both within the command's time-out.
    virtual void StartSecureChannel();

private:
    bool ResponseHasBody() const;
    void ReceiveBody();
    std::string EncodedCredentials();
    // The TLS settings of CaFile, made at the first https request and again when CaFile changes.
    TTlsContext& TlsContext();
    std::unique_ptr<TTlsContext> FTlsContext;
};
