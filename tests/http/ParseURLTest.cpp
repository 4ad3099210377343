// How a command's URL becomes host, port and path.
#include "HttpTestKit.h"
#include "framework/TextHelpers.h"
#include "support/HttpPeer.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

struct ParseCase {
    const char* Name;
    std::string URL = {};
    std::string HostBefore = "old";
    int32_t PortBefore = 0;
    // Expected afterwards, when parsing succeeds.
    std::string Host = {};
    int32_t Port = 0;
    std::string Path = {};
    std::string URLAfter = {}; // empty: the URL is unchanged
    // Expected failure instead.
    std::optional<std::type_index> Raises = std::nullopt;
    std::string Message = {};
};

void PrintTo(const ParseCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

const std::string LongPath = "/" + std::string(400, 'q');

const ParseCase ParseCases[] = {
    {.Name = "HostAndPath", .URL = "http://srv/a/b.html", .Host = "srv", .Port = 80, .Path = "/a/b.html"},
    {.Name = "PortInUrl", .URL = "http://srv:8080/x", .Host = "srv", .Port = 8080, .Path = "/x"},
    {.Name = "HighestPort", .URL = "http://srv:65535/x", .Host = "srv", .Port = 65535, .Path = "/x"},
    {.Name = "LowestPort", .URL = "http://srv:1/x", .Host = "srv", .Port = 1, .Path = "/x"},
    {.Name = "HostAndPortWithoutScheme", .URL = "srv:81/x", .Host = "srv", .Port = 81, .Path = "/x"},
    {.Name = "HostOnlyGetsRootPath",
     .URL = "http://srv",
     .Host = "srv",
     .Port = 80,
     .Path = "/",
     .URLAfter = "http://srv/"},
    {.Name = "HostAndPortOnly",
     .URL = "http://srv:81",
     .Host = "srv",
     .Port = 81,
     .Path = "/",
     .URLAfter = "http://srv:81/"},
    {.Name = "RootPathKept", .URL = "http://srv/", .Host = "srv", .Port = 80, .Path = "/"},
    {.Name = "BareHost", .URL = "srv", .Host = "srv", .Port = 80, .Path = "/", .URLAfter = "srv/"},
    {.Name = "BareHostKeepsEarlierPort",
     .URL = "srv/a",
     .PortBefore = 8081,
     .Host = "srv",
     .Port = 8081,
     .Path = "/a"},
    {.Name = "SchemeSetsPortWhateverItWas",
     .URL = "http://srv/a",
     .PortBefore = 8081,
     .Host = "srv",
     .Port = 80,
     .Path = "/a"},
    {.Name = "Ftp", .URL = "ftp://srv/pub/x", .Host = "srv", .Port = 21, .Path = "/pub/x"},
    {.Name = "Gopher", .URL = "gopher://srv/x", .Host = "srv", .Port = 70, .Path = "/x"},
    {.Name = "SchemeInAnyCase", .URL = "GoPhEr://Srv/X", .Host = "Srv", .Port = 70, .Path = "/X"},
    {.Name = "UnknownSchemeIsPort80",
     .URL = "news://srv/x",
     .PortBefore = 119,
     .Host = "srv",
     .Port = 80,
     .Path = "/x"},
    {.Name = "ColonInQueryIsNoPort",
     .URL = "http://srv/a?t=1:2",
     .Host = "srv",
     .Port = 80,
     .Path = "/a?t=1:2"},
    {.Name = "PathKeepsHostAndPort",
     .URL = "/index.html",
     .PortBefore = 8081,
     .Host = "old",
     .Port = 8081,
     .Path = "/index.html"},
    {.Name = "LongPathWhole", .URL = "http://srv" + LongPath, .Host = "srv", .Port = 80, .Path = LongPath},
    {.Name = "EmptyUrl", .URL = "", .Raises = ClassOf<Exception>(), .Message = "Empty URL"},
    {.Name = "Https",
     .URL = "https://srv/",
     .Raises = ClassOf<Exception>(),
     .Message = "HTTP Secure Socket is not supported"},
    {.Name = "HttpsUpperCase",
     .URL = "HTTPS://srv/",
     .Raises = ClassOf<Exception>(),
     .Message = "HTTP Secure Socket is not supported"},
    {.Name = "PortNotANumber",
     .URL = "http://srv:abc/",
     .Raises = ClassOf<EConversionError>(),
     .Message = FrameworkTexts::NotAnInteger("abc")},
    {.Name = "EmptyPort",
     .URL = "srv:/x",
     .Raises = ClassOf<EConversionError>(),
     .Message = FrameworkTexts::NotAnInteger("")},
    {.Name = "PortZero",
     .URL = "http://srv:0/x",
     .Raises = ClassOf<ERangeError>(),
     .Message = "Port 0 out of range"},
    {.Name = "PortAboveRange",
     .URL = "http://srv:65536/x",
     .Raises = ClassOf<ERangeError>(),
     .Message = "Port 65536 out of range"},
    {.Name = "PortWhoseLowBitsAre80",
     .URL = "srv:65616/x",
     .Raises = ClassOf<ERangeError>(),
     .Message = "Port 65616 out of range"},
    {.Name = "NegativePort",
     .URL = "http://srv:-1/x",
     .Raises = ClassOf<ERangeError>(),
     .Message = "Port -1 out of range"},
    {.Name = "KeptPortOutOfRange",
     .URL = "/x",
     .PortBefore = 70000,
     .Raises = ClassOf<ERangeError>(),
     .Message = "Port 70000 out of range"},
};

class ParseURLCases : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseURLCases, SplitHostPortAndPath) {
    const ParseCase& Case = GetParam();
    TestHTTP H(nullptr);
    H.URL = Case.URL;
    H.Host = Case.HostBefore;
    H.Port = Case.PortBefore;
    if (Case.Raises) {
        try {
            H.ParseURL();
            FAIL() << "no exception";
        } catch (const std::exception& E) {
            EXPECT_EQ(ClassOf(E), *Case.Raises) << typeid(E).name();
            EXPECT_EQ(std::string(E.what()), Case.Message);
        }
        return;
    }
    H.ParseURL();
    EXPECT_EQ(H.Host, Case.Host);
    EXPECT_EQ(H.Port, Case.Port);
    EXPECT_EQ(H.Path, Case.Path);
    EXPECT_EQ(H.URL, Case.URLAfter.empty() ? Case.URL : Case.URLAfter);
}

INSTANTIATE_TEST_SUITE_P(Samples, ParseURLCases, testing::ValuesIn(ParseCases),
                         [](const testing::TestParamInfo<ParseCase>& Info) {
                             return std::string(Info.param.Name);
                         });

// A URL that cannot be parsed ends the command before anything is assembled, connected or reported.
TEST(ParseURLFailure, EndsTheCommandBeforeAnyConnection) {
    for (const std::string URL : {"", "https://127.0.0.1/", "http://127.0.0.1:8o/"}) {
        TestHTTP H(nullptr);
        H.RecordEvents();
        EXPECT_ANY_THROW(H.Get(URL)) << URL;
        EXPECT_TRUE(H.Log.empty()) << URL << ": " << testing::PrintToString(H.Log);
        EXPECT_EQ(H.SendHeader->Count(), 0) << URL;
    }
}

// A port beyond 16 bits never reaches the service that its low 16 bits name.
TEST(ParseURLFailure, PortBeyond16BitsConnectsNowhere) {
    HttpPeer Peer({OnePacket("HTTP/1.0 200 OK\r\n\r\n")});
    TestHTTP H(nullptr);
    H.TimeOut = 10000;
    H.RecordEvents();
    EXPECT_THROW(H.Get("http://127.0.0.1:" + std::to_string(Peer.Port() + 65536) + "/"), ERangeError);
    EXPECT_TRUE(H.Log.empty()) << testing::PrintToString(H.Log);
    EXPECT_EQ(Peer.Connections(), 0u);
}

} // namespace
