// The exact bytes each command puts on the wire, as a loopback peer receives them.
#include "HttpTestKit.h"
#include "support/HttpPeer.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct RequestCase {
    const char* Name;
    Command Cmd = {};
    std::string URL = {};
    std::string Argument = {}; // data, destination or link; in output-file mode the data file's name
    bool ViaProxy = false;
    std::string HostBefore = "before";
    THeaderInfo Info = {};
    bool OutputFileMode = false;
    bool EncodePostData = true;
    std::string DataFileContent = {}; // written to Argument (or to "Send.dat" for the link commands)
    std::string Expected = {};
};

void PrintTo(const RequestCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

THeaderInfo Credentials(const std::string& UserId, const std::string& Password) {
    THeaderInfo Info;
    Info.UserId = UserId;
    Info.Password = Password;
    return Info;
}

const std::string LongPath = "/" + std::string(300, 'p');
const std::string LongText = std::string(70000, 'x') + std::string(1, '\0') + "end";

const RequestCase RequestCases[] = {
    {.Name = "GetDirect",
     .Cmd = Command::Get,
     .URL = "http://srv/a",
     .Expected = "GET /a HTTP/1.0\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "\r\n"},
    {.Name = "GetDirectOutputFileMode",
     .Cmd = Command::Get,
     .URL = "http://srv/a",
     .OutputFileMode = true,
     .Expected = "GET /a HTTP/1.0\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "\r\n"},
    {.Name = "GetProxy",
     .Cmd = Command::Get,
     .URL = "http://srv/a",
     .ViaProxy = true,
     .Expected = "GET http://srv/a HTTP/1.0\r\n"
                 "Proxy-Connection: Keep-Alive\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "\r\n"},
    {.Name = "GetProxyPortStaysInUrlNotInHost",
     .Cmd = Command::Get,
     .URL = "http://srv:8080/a",
     .ViaProxy = true,
     .Expected = "GET http://srv:8080/a HTTP/1.0\r\n"
                 "Proxy-Connection: Keep-Alive\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "\r\n"},
    {.Name = "GetDirectWithoutHost",
     .Cmd = Command::Get,
     .URL = "/a",
     .HostBefore = "",
     .Expected = "GET /a HTTP/1.0\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "\r\n"},
    {.Name = "GetProxyWithoutHost",
     .Cmd = Command::Get,
     .URL = "/a",
     .ViaProxy = true,
     .HostBefore = "",
     .Expected = "GET /a HTTP/1.0\r\n"
                 "Proxy-Connection: Keep-Alive\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "\r\n"},
    {.Name = "GetProxyEveryHeaderField",
     .Cmd = Command::Get,
     .URL = "http://srv/a",
     .ViaProxy = true,
     .Info = {.LocalMailAddress = "me@example.org",
              .LocalProgram = "Agent/1.0",
              .Cookie = "k=v; w=x",
              .Referer = "http://from/",
              .UserId = "user",
              .Password = "pass"},
     .Expected = "GET http://srv/a HTTP/1.0\r\n"
                 "Proxy-Connection: Keep-Alive\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "User-Agent: Agent/1.0\r\n"
                 "From: me@example.org\r\n"
                 "Cookie: k=v; w=x\r\n"
                 "Referer: http://from/\r\n"
                 "Authorization: Basic dXNlcjpwYXNz\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "\r\n"},
    {.Name = "GetDirectLongCredentialsOnOneLine",
     .Cmd = Command::Get,
     .URL = "http://srv/a",
     .Info = Credentials(std::string(40, 'u'), std::string(20, 'p')),
     .Expected = "GET /a HTTP/1.0\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Authorization: Basic "
                 "dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dTpwcHBwcHBwcHBwcHBwcHBwcHBwcA==\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "\r\n"},
    {.Name = "GetDirectUserWithoutPasswordSendsNoAuthorization",
     .Cmd = Command::Get,
     .URL = "http://srv/a",
     .Info = Credentials("user", ""),
     .Expected = "GET /a HTTP/1.0\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "\r\n"},
    {.Name = "GetDirectLongPathWhole",
     .Cmd = Command::Get,
     .URL = "http://srv" + LongPath,
     .Expected = "GET " + LongPath +
                 " HTTP/1.0\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "\r\n"},
    {.Name = "HeadDirect",
     .Cmd = Command::Head,
     .URL = "http://srv/a",
     .Expected = "HEAD /a HTTP/1.0\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "\r\n"},
    {.Name = "OptionsProxy",
     .Cmd = Command::Options,
     .URL = "http://srv/a",
     .ViaProxy = true,
     .Expected = "OPTIONS http://srv/a HTTP/1.0\r\n"
                 "Proxy-Connection: Keep-Alive\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "\r\n"},
    {.Name = "DeleteDirect",
     .Cmd = Command::Delete,
     .URL = "http://srv/a",
     .Expected = "DELETE /a HTTP/1.0\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "\r\n"},
    {.Name = "PostDirectEncoded",
     .Cmd = Command::Post,
     .URL = "http://srv/form",
     .Argument = "a b=1&c=2",
     .Expected = "POST /form HTTP/1.0\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "Content-Length: 15\r\n"
                 "\r\n"
                 "a+b%3D1%26c%3D2"},
    {.Name = "PostProxyNotEncoded",
     .Cmd = Command::Post,
     .URL = "http://srv/form",
     .Argument = "a=1&b=2",
     .ViaProxy = true,
     .EncodePostData = false,
     .Expected = "POST http://srv/form HTTP/1.0\r\n"
                 "Proxy-Connection: Keep-Alive\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "Content-Length: 7\r\n"
                 "\r\n"
                 "a=1&b=2"},
    {.Name = "PostProxyOutputFileModeSendsTheFileUnencoded",
     .Cmd = Command::Post,
     .URL = "http://srv/form",
     .Argument = "data.bin",
     .ViaProxy = true,
     .OutputFileMode = true,
     .DataFileContent = std::string("a=1&\0b\r\n", 8),
     .Expected = std::string("POST http://srv/form HTTP/1.0\r\n"
                             "Proxy-Connection: Keep-Alive\r\n"
                             "Host: srv\r\n"
                             "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                             "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                             "Content-type: application/x-www-form-urlencoded\r\n"
                             "Content-Length: 8\r\n"
                             "\r\n") +
                 std::string("a=1&\0b\r\n", 8)},
    {.Name = "PutDirectTextWithZeroByteWhole",
     .Cmd = Command::Put,
     .URL = "http://srv/doc",
     .Argument = std::string("ab\0cd", 5),
     .Expected = std::string("PUT /doc HTTP/1.0\r\n"
                             "Host: srv\r\n"
                             "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                             "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                             "Content-type: application/x-www-form-urlencoded\r\n"
                             "Content-Length: 5\r\n"
                             "\r\n") +
                 std::string("ab\0cd", 5)},
    {.Name = "PutDirectTextBeyond64KWhole",
     .Cmd = Command::Put,
     .URL = "http://srv/doc",
     .Argument = LongText,
     .Expected = "PUT /doc HTTP/1.0\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "Content-Length: 70004\r\n"
                 "\r\n" +
                 LongText},
    {.Name = "PutDirectOutputFileMode",
     .Cmd = Command::Put,
     .URL = "http://srv/doc",
     .Argument = "data.bin",
     .OutputFileMode = true,
     .DataFileContent = "file body",
     .Expected = "PUT /doc HTTP/1.0\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "Content-Length: 9\r\n"
                 "\r\n"
                 "file body"},
    {.Name = "PatchDirect",
     .Cmd = Command::Patch,
     .URL = "http://srv/doc",
     .Argument = "x=1",
     .Expected = "PATCH /doc HTTP/1.0\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "Content-Length: 3\r\n"
                 "\r\n"
                 "x=1"},
    {.Name = "TraceProxy",
     .Cmd = Command::Trace,
     .URL = "http://srv/t",
     .Argument = "ping",
     .ViaProxy = true,
     .Expected = "TRACE http://srv/t HTTP/1.0\r\n"
                 "Proxy-Connection: Keep-Alive\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "Content-Length: 4\r\n"
                 "\r\n"
                 "ping"},
    {.Name = "CopyDirect",
     .Cmd = Command::Copy,
     .URL = "http://srv/a",
     .Argument = "http://srv/b",
     .Expected = "COPY /a HTTP/1.0\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "URI-header: http://srv/b\r\n"
                 "\r\n"},
    {.Name = "MoveProxyEmptyDestination",
     .Cmd = Command::Move,
     .URL = "http://srv/a",
     .ViaProxy = true,
     .Expected = "MOVE http://srv/a HTTP/1.0\r\n"
                 "Proxy-Connection: Keep-Alive\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "URI-header: \r\n"
                 "\r\n"},
    {.Name = "LinkDirectTextModeNoBodyNoLength",
     .Cmd = Command::Link,
     .URL = "http://srv/a",
     .Argument = "http://srv/b",
     .Expected = "LINK /a HTTP/1.0\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "Link: http://srv/b\r\n"
                 "\r\n"},
    {.Name = "UnLinkProxyTextModeNoBodyNoLength",
     .Cmd = Command::UnLink,
     .URL = "http://srv/a",
     .Argument = "http://srv/b",
     .ViaProxy = true,
     .Expected = "UNLINK http://srv/a HTTP/1.0\r\n"
                 "Proxy-Connection: Keep-Alive\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "Link: http://srv/b\r\n"
                 "\r\n"},
    {.Name = "LinkDirectOutputFileModeSendsSendDat",
     .Cmd = Command::Link,
     .URL = "http://srv/a",
     .Argument = "http://srv/b",
     .OutputFileMode = true,
     .DataFileContent = "linked body",
     .Expected = "LINK /a HTTP/1.0\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "Link: http://srv/b\r\n"
                 "Content-Length: 11\r\n"
                 "\r\n"
                 "linked body"},
    {.Name = "UnLinkProxyOutputFileModeSendsSendDat",
     .Cmd = Command::UnLink,
     .URL = "http://srv/a",
     .Argument = "http://srv/b",
     .ViaProxy = true,
     .OutputFileMode = true,
     .DataFileContent = "gone",
     .Expected = "UNLINK http://srv/a HTTP/1.0\r\n"
                 "Proxy-Connection: Keep-Alive\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "Link: http://srv/b\r\n"
                 "Content-Length: 4\r\n"
                 "\r\n"
                 "gone"},
    {.Name = "WrappedDirectHasNoRequestLine",
     .Cmd = Command::Wrapped,
     .URL = "http://srv/w",
     .Argument = "data",
     .Expected = "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "Content-Length: 4\r\n"
                 "\r\n"
                 "data"},
    {.Name = "WrappedProxyOutputFileMode",
     .Cmd = Command::Wrapped,
     .URL = "http://srv/w",
     .Argument = "data.bin",
     .ViaProxy = true,
     .OutputFileMode = true,
     .DataFileContent = "wrapped",
     .Expected = "Proxy-Connection: Keep-Alive\r\n"
                 "Host: srv\r\n"
                 "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                 "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                 "Content-type: application/x-www-form-urlencoded\r\n"
                 "Content-Length: 7\r\n"
                 "\r\n"
                 "wrapped"},
};

class RequestBytes : public testing::TestWithParam<RequestCase> {};

TEST_P(RequestBytes, AreExactlyTheCommandsRequest) {
    const RequestCase& Case = GetParam();
    InTempFolder Work;
    if (Case.OutputFileMode && !Case.DataFileContent.empty()) {
        const bool IsLink = Case.Cmd == Command::Link || Case.Cmd == Command::UnLink;
        Work.Folder().WriteFile(IsLink ? "Send.dat" : Case.Argument, Case.DataFileContent);
    }
    HttpPeer Peer({OnePacket("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n")});

    TestHTTP H(nullptr);
    H.TimeOut = 10000;
    H.Host = Case.HostBefore;
    *H.HeaderInfo = Case.Info;
    H.OutputFileMode = Case.OutputFileMode;
    H.EncodePostData = Case.EncodePostData;
    if (Case.ViaProxy) {
        H.Proxy = "127.0.0.1";
        H.ProxyPort = Peer.Port();
    } else {
        H.RouteToPort = Peer.Port();
    }
    const int ComponentsBefore = H.ComponentCount();

    RunCommand(H, Case.Cmd, Case.URL, Case.Argument);

    const std::vector<std::string> Requests = Peer.Requests(1);
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0], Case.Expected);
    EXPECT_EQ(H.ReplyCode, 200);
    // The codecs made for the call are gone again.
    EXPECT_EQ(H.ComponentCount(), ComponentsBefore);
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, RequestBytes, testing::ValuesIn(RequestCases),
                         [](const testing::TestParamInfo<RequestCase>& Info) {
                             return std::string(Info.param.Name);
                         });

// ---- Texts that would break the request head ------------------------------------------------------

// A CR, LF or zero byte in a text that goes into the request head refuses the request before anything
// is sent, naming the field; texts that do not go into the head as they stand are sent as before.
struct RefusalCase {
    const char* Name;
    Command Cmd = Command::Get;
    std::string URL = "http://127.0.0.1:{port}/a";
    std::string Argument = {};
    std::function<void(TestHTTP&, uint16_t Port)> Arrange = [](TestHTTP&, uint16_t) {};
    std::vector<std::string> Replies = {"HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"};
    std::string Field = {}; // empty: the request is sent
    size_t RequestsSent = 0;
};

void PrintTo(const RefusalCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

const std::string Zero(1, '\0');

auto ThroughProxy = [](TestHTTP& H, uint16_t Port) {
    H.Proxy = "127.0.0.1";
    H.ProxyPort = Port;
};

const RefusalCase RefusalCases[] = {
    {.Name = "CarriageReturnInUrl", .URL = "http://127.0.0.1:{port}/a\rX-Injected: 1", .Field = "URL"},
    {.Name = "LineFeedInUrlThroughProxy",
     .URL = "http://srv/a\nX-Injected: 1",
     .Arrange = ThroughProxy,
     .Field = "URL"},
    {.Name = "ZeroByteInUrl", .URL = "http://127.0.0.1:{port}/a" + Zero + "b", .Field = "URL"},
    {.Name = "LineFeedInHost",
     .URL = "/a",
     .Arrange =
         [](TestHTTP& H, uint16_t Port) {
             H.Host = "srv\nX-Injected: 1";
             H.RouteToPort = Port;
         },
     .Field = "Host"},
    {.Name = "ZeroByteInProxy",
     .URL = "http://srv/a",
     .Arrange =
         [](TestHTTP& H, uint16_t Port) {
             H.Proxy = "127.0.0.1" + Zero + "elsewhere";
             H.ProxyPort = Port;
         },
     .Field = "Proxy"},
    {.Name = "CarriageReturnInUserAgent",
     .Arrange = [](TestHTTP& H, uint16_t) { H.HeaderInfo->LocalProgram = "Agent\rX-Injected: 1"; },
     .Field = "HeaderInfo.LocalProgram"},
    {.Name = "LineFeedInFrom",
     .Arrange = [](TestHTTP& H, uint16_t) { H.HeaderInfo->LocalMailAddress = "me@x\nX-Injected: 1"; },
     .Field = "HeaderInfo.LocalMailAddress"},
    {.Name = "ZeroByteInCookie",
     .Arrange = [](TestHTTP& H, uint16_t) { H.HeaderInfo->Cookie = "a=1" + Zero; },
     .Field = "HeaderInfo.Cookie"},
    {.Name = "LineBreakInReferer",
     .Arrange = [](TestHTTP& H, uint16_t) { H.HeaderInfo->Referer = "http://from/\r\nX-Injected: 1"; },
     .Field = "HeaderInfo.Referer"},
    {.Name = "LineBreakInCopyDestination",
     .Cmd = Command::Copy,
     .Argument = "http://srv/b\r\nX-Injected: 1",
     .Field = "TargetURI"},
    {.Name = "LineFeedInLinkTarget",
     .Cmd = Command::UnLink,
     .Argument = "http://srv/b\nX-Injected: 1",
     .Field = "TargetURI"},
    {.Name = "CarriageReturnInRedirectLocation",
     .Replies = {"HTTP/1.0 302 Found\r\nLocation: /b\rX-Injected: 1\r\n\r\n"},
     .Field = "Location",
     .RequestsSent = 1},
    {.Name = "ZeroByteInRedirectLocation",
     .Replies = {"HTTP/1.0 301 Moved\r\nLocation: /b" + Zero + "c\r\n\r\n"},
     .Field = "Location",
     .RequestsSent = 1},
    {.Name = "CarriageReturnInRedirectCookie",
     .Replies = {"HTTP/1.0 302 Found\r\nSet-Cookie: a=1\rX-Injected: 1\r\nLocation: /b\r\n\r\n"},
     .Field = "Set-Cookie",
     .RequestsSent = 1},
    // Sent: the destination of an earlier command is no part of a GET, and credentials go Base64-encoded.
    {.Name = "LeftOverDestinationIsNotSent",
     .Arrange = [](TestHTTP& H, uint16_t) { H.TargetURI = "http://srv/b\r\nX-Injected: 1"; },
     .RequestsSent = 1},
    {.Name = "CredentialsWithLineBreaksGoEncoded",
     .Arrange =
         [](TestHTTP& H, uint16_t) {
             H.HeaderInfo->UserId = "user\r\nX-Injected: 1";
             H.HeaderInfo->Password = "pass" + Zero;
         },
     .RequestsSent = 1},
};

class HeadText : public testing::TestWithParam<RefusalCase> {};

TEST_P(HeadText, WithALineBreakIsRefusedBeforeSending) {
    const RefusalCase& Case = GetParam();
    HttpPeer Peer;
    std::vector<HttpPeerReply> Replies;
    for (const std::string& R : Case.Replies) Replies.push_back(OnePacket(WithPort(R, Peer.Port())));
    Peer.SetReplies(Replies);
    TestHTTP H(nullptr);
    H.TimeOut = 10000;
    Case.Arrange(H, Peer.Port());

    try {
        RunCommand(H, Case.Cmd, WithPort(Case.URL, Peer.Port()), Case.Argument);
        EXPECT_TRUE(Case.Field.empty()) << "not refused";
    } catch (const std::exception& E) {
        EXPECT_EQ(ClassOf(E), ClassOf<Exception>()) << typeid(E).name() << ": " << E.what();
        EXPECT_EQ(std::string(E.what()), Case.Field + " holds a line break or a zero byte");
    }
    const std::vector<std::string> Requests = Peer.Requests(Case.RequestsSent);
    EXPECT_EQ(Peer.Connections(), Case.RequestsSent);
    for (const std::string& Request : Requests)
        EXPECT_EQ(Request.find("X-Injected"), std::string::npos) << Request;
    EXPECT_FALSE(H.IsConnected);
}

INSTANTIATE_TEST_SUITE_P(Fields, HeadText, testing::ValuesIn(RefusalCases),
                         [](const testing::TestParamInfo<RefusalCase>& Info) {
                             return std::string(Info.param.Name);
                         });

} // namespace
