// How a response is taken apart: status, header text, the three interpreted fields and the body.
#include "HttpTestKit.h"
#include "support/HttpPeer.h"

#include <gtest/gtest.h>

namespace {

struct ResponseCase {
    const char* Name;
    std::string Response = {};
    bool SplitIntoPieces = false; // sent in random pieces of 1 to 3 bytes
    int16_t ReplyCode = {};
    std::string Header = {}; // as stored: the status line, the header lines and the line that ended them
    std::string Body = {};
    std::string Cookie = {};
    std::string Location = {};
    int32_t TransferTotal = 0;
    int64_t ContentLength = -1;
};

void PrintTo(const ResponseCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

const ResponseCase ResponseCases[] = {
    {.Name = "StatusHeaderAndBody",
     .Response = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\nhello",
     .ReplyCode = 200,
     .Header = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\n",
     .Body = "hello",
     .TransferTotal = 5,
     .ContentLength = 5},
    {.Name = "HeaderInRandomPieces",
     .Response = "HTTP/1.1 200 OK\r\nServer: test\r\nSet-Cookie: id=42; path=/\r\nLocation: http://srv/p\r\n"
                 "Content-Length: 11\r\n\r\nhello world",
     .SplitIntoPieces = true,
     .ReplyCode = 200,
     .Header = "HTTP/1.1 200 OK\r\nServer: test\r\nSet-Cookie: id=42; path=/\r\nLocation: http://srv/p\r\n"
               "Content-Length: 11\r\n\r\n",
     .Body = "hello world",
     .Cookie = "id=42; path=/",
     .Location = "http://srv/p",
     .TransferTotal = 11,
     .ContentLength = 11},
    {.Name = "LocationWithoutLineEnd",
     .Response = "HTTP/1.1 302 Found\r\nLocation: http://srv/x\r\n\r\n",
     .ReplyCode = 302,
     .Header = "HTTP/1.1 302 Found\r\nLocation: http://srv/x\r\n\r\n",
     .Body = "",
     .Location = "http://srv/x"},
    {.Name = "FieldNamesInAnyCase",
     .Response =
         "HTTP/1.0 200 OK\r\nset-cookie: a=1; path=/\r\nLOCATION: /up\r\ncOnTeNt-LeNgTh: 2\r\n\r\nokEXTRA",
     .ReplyCode = 200,
     .Header = "HTTP/1.0 200 OK\r\nset-cookie: a=1; path=/\r\nLOCATION: /up\r\ncOnTeNt-LeNgTh: 2\r\n\r\n",
     .Body = "ok",
     .Cookie = "a=1; path=/",
     .Location = "/up",
     .TransferTotal = 2,
     .ContentLength = 2},
    {.Name = "LaterCookieReplacesEarlier",
     .Response = "HTTP/1.0 200 OK\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\n\r\n",
     .ReplyCode = 200,
     .Header = "HTTP/1.0 200 OK\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\n\r\n",
     .Body = "",
     .Cookie = "b=2"},
    {.Name = "LongCookieAndLocationWhole",
     .Response = "HTTP/1.0 200 OK\r\nSet-Cookie: c=" + std::string(600, 'c') + "\r\nLocation: http://srv/" +
                 std::string(600, 'l') + "\r\n\r\n",
     .ReplyCode = 200,
     .Header = "HTTP/1.0 200 OK\r\nSet-Cookie: c=" + std::string(600, 'c') + "\r\nLocation: http://srv/" +
               std::string(600, 'l') + "\r\n\r\n",
     .Body = "",
     .Cookie = "c=" + std::string(600, 'c'),
     .Location = "http://srv/" + std::string(600, 'l')},
    {.Name = "FieldWithoutSpaceAfterColonIsNotRead",
     .Response = "HTTP/1.0 200 OK\r\nContent-Length:5\r\nLocation:x\r\nSet-Cookie:c=1\r\n\r\nabcdefg",
     .ReplyCode = 200,
     .Header = "HTTP/1.0 200 OK\r\nContent-Length:5\r\nLocation:x\r\nSet-Cookie:c=1\r\n\r\n",
     .Body = "abcdefg"},
    {.Name = "LengthWithJunkIsNoBodyLength",
     .Response = "HTTP/1.0 200 OK\r\nContent-Length: 12ab\r\n\r\n0123456789abcdef",
     .ReplyCode = 200,
     .Header = "HTTP/1.0 200 OK\r\nContent-Length: 12ab\r\n\r\n",
     .Body = "0123456789abcdef",
     .TransferTotal = 12},
    {.Name = "LengthOfTwentyDigitsIsNoLength",
     .Response = "HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nabc",
     .ReplyCode = 200,
     .Header = "HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n",
     .Body = "abc"},
    {.Name = "DisagreeingLengthsAreNoLength",
     .Response = "HTTP/1.0 200 OK\r\nContent-Length: 3\r\nContent-Length: 5\r\n\r\nabcdefgh",
     .ReplyCode = 200,
     .Header = "HTTP/1.0 200 OK\r\nContent-Length: 3\r\nContent-Length: 5\r\n\r\n",
     .Body = "abcdefgh",
     .TransferTotal = 5},
    {.Name = "BodyEndsAtItsLength",
     .Response = "HTTP/1.0 200 OK\r\nContent-Length: 3 \r\n\r\nabcdef",
     .ReplyCode = 200,
     .Header = "HTTP/1.0 200 OK\r\nContent-Length: 3 \r\n\r\n",
     .Body = "abc",
     .TransferTotal = 3,
     .ContentLength = 3},
    {.Name = "LineFeedOnlyLines",
     .Response = "HTTP/1.0 200 OK\nContent-Length: 3\nLocation: /lf\n\nabc",
     .ReplyCode = 200,
     .Header = "HTTP/1.0 200 OK\nContent-Length: 3\nLocation: /lf\n\n",
     .Body = "abc",
     .Location = "/lf",
     .TransferTotal = 3,
     .ContentLength = 3},
    {.Name = "MixedLineEnds",
     .Response = "HTTP/1.0 200 OK\r\nA: b\n\r\nrest",
     .ReplyCode = 200,
     .Header = "HTTP/1.0 200 OK\r\nA: b\n\r\n",
     .Body = "rest"},
    {.Name = "LeadingEmptyLineIsTheStatusLine",
     .Response = "\r\nHTTP/1.0 404 Not Found\r\nX: y\r\n\r\nbody",
     .ReplyCode = 0,
     .Header = "\r\nHTTP/1.0 404 Not Found\r\nX: y\r\n\r\n",
     .Body = "body"},
    {.Name = "StatusWithoutNumber",
     .Response = "HTTP/1.0 OK\r\n\r\nbody",
     .ReplyCode = 0,
     .Header = "HTTP/1.0 OK\r\n\r\n",
     .Body = "body"},
    {.Name = "StatusWithoutReasonPhrase",
     .Response = "HTTP/1.0 404\r\n\r\n",
     .ReplyCode = 404,
     .Header = "HTTP/1.0 404\r\n\r\n",
     .Body = ""},
    {.Name = "StatusBeyond16BitsIsNoStatus",
     .Response = "HTTP/1.0 65736 Wrapped\r\n\r\n",
     .ReplyCode = 0,
     .Header = "HTTP/1.0 65736 Wrapped\r\n\r\n",
     .Body = ""},
    {.Name = "ChunkedBodyAsReceived",
     .Response = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
     .ReplyCode = 200,
     .Header = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
     .Body = "5\r\nhello\r\n0\r\n\r\n"},
};

enum class Modes { Text, Files };

class ResponseReading : public testing::TestWithParam<std::tuple<ResponseCase, Modes>> {};

TEST_P(ResponseReading, TakesTheResponseApart) {
    const auto& [Case, Mode] = GetParam();
    InTempFolder Work;
    std::mt19937 Rng(20240611);
    HttpPeerReply Reply =
        Case.SplitIntoPieces ? HttpPeerReply{SplitRandomly(Case.Response, Rng, 3)} : OnePacket(Case.Response);
    HttpPeer Peer({Reply});

    TestHTTP H(nullptr);
    H.TimeOut = 10000;
    H.Location = "earlier";
    H.ReceivedCookie = "stale";
    H.TransferTotal = 77;
    // A 3xx response is looked at, not followed.
    H.OnRedirect = [](bool& Handled) { Handled = true; };
    const bool Files = Mode == Modes::Files;
    H.OutputFileMode = Files;
    H.InputFileMode = Files;
    if (Files) {
        H.Header = "header.txt";
        H.Body = "body.bin";
    }

    H.Get("http://127.0.0.1:" + std::to_string(Peer.Port()) + "/r");

    EXPECT_EQ(H.ReplyCode, Case.ReplyCode);
    EXPECT_EQ(Files ? ReadWholeFile("header.txt") : H.Header, Case.Header);
    EXPECT_EQ(Files ? ReadWholeFile("body.bin") : H.Body, Case.Body);
    EXPECT_EQ(H.ReceivedCookie, Case.Cookie);
    EXPECT_EQ(H.Location, Case.Location);
    EXPECT_EQ(H.TransferTotal, Case.TransferTotal);
    EXPECT_EQ(H.ContentLength, Case.ContentLength);
    EXPECT_FALSE(H.IsConnected);
}

INSTANTIATE_TEST_SUITE_P(Responses, ResponseReading,
                         testing::Combine(testing::ValuesIn(ResponseCases),
                                          testing::Values(Modes::Text, Modes::Files)),
                         [](const testing::TestParamInfo<std::tuple<ResponseCase, Modes>>& Info) {
                             return std::string(std::get<0>(Info.param).Name) +
                                    (std::get<1>(Info.param) == Modes::Files ? "_Files" : "_Text");
                         });

// The second response of a component starts from a clean cookie, target and total: nothing of the first
// peer's answer passes for the second's.
TEST(ResponseReadingInARow, SecondResponseStartsClean) {
    HttpPeer Peer({OnePacket("HTTP/1.0 302 Found\r\nLocation: http://srv/first\r\nSet-Cookie: s=1\r\n"
                             "Content-Length: 4\r\n\r\nmove"),
                   OnePacket("HTTP/1.0 200 OK\r\n\r\nsecond")});
    TestHTTP H(nullptr);
    H.TimeOut = 10000;
    H.OnRedirect = [](bool& Handled) { Handled = true; };
    const std::string URL = "http://127.0.0.1:" + std::to_string(Peer.Port()) + "/r";

    H.Get(URL);
    EXPECT_EQ(H.Location, "http://srv/first");
    EXPECT_EQ(H.ReceivedCookie, "s=1");
    EXPECT_EQ(H.TransferTotal, 4);
    EXPECT_EQ(H.Body, "move");

    H.Get(URL);
    EXPECT_EQ(H.ReplyCode, 200);
    EXPECT_EQ(H.Location, "");
    EXPECT_EQ(H.ReceivedCookie, "");
    EXPECT_EQ(H.TransferTotal, 0);
    EXPECT_EQ(H.ContentLength, -1);
    EXPECT_EQ(H.Header, "HTTP/1.0 200 OK\r\n\r\n");
    EXPECT_EQ(H.Body, "second");
}

} // namespace
