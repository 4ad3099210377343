// How much of a response body a command takes: MaxBodySize bounds it in memory and in the Body file,
// whether the header announced its length or not. A Body file that cannot be written is a local failure,
// told apart from anything the peer did.
#include "HttpTestKit.h"
#include "framework/Exceptions.h"
#include "net/SocketErrors.h"
#include "support/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <tuple>

namespace {

constexpr int32_t Limit = 100000;
const std::string TooLong = "Response body longer than 100000 bytes";

std::string Url(uint16_t Port) {
    return "http://127.0.0.1:" + std::to_string(Port) + "/body";
}

PeerScript Answer(const std::string& Header) {
    return PeerScript().ReceiveUntil("\r\n\r\n").Send(Header);
}

struct LimitCase {
    const char* Name;
    PeerScript Script = {};
    int32_t MaxBodySize = Limit;
    std::optional<std::type_index> Raises = {}; // none: the command returns with the whole body
    std::string Message = {};
    uint64_t BodySize = 0; // of the pattern the peer sends, when the command returns
};

void PrintTo(const LimitCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

const LimitCase LimitCases[] = {
    {.Name = "LimitWithoutLength",
     .Script = Answer("HTTP/1.0 200 OK\r\n\r\n").SendPattern(Limit).Close(),
     .BodySize = Limit},
    {.Name = "LimitWithLength",
     .Script = Answer("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n").SendPattern(Limit).Hold(),
     .BodySize = Limit},
    {.Name = "ByteBeyondWithoutLength",
     .Script = Answer("HTTP/1.0 200 OK\r\n\r\n").SendPattern(Limit + 1).Close(),
     .Raises = ClassOf<ERangeError>(),
     .Message = TooLong},
    // As fast as it is read and without end: stopped at the limit, long before the time-out.
    {.Name = "EndlessWithoutLength",
     .Script = Answer("HTTP/1.0 200 OK\r\n\r\n").SendPattern(uint64_t{1} << 40),
     .Raises = ClassOf<ERangeError>(),
     .Message = TooLong},
    // Refused as the header ends, without waiting for bytes that the peer never sends.
    {.Name = "AnnouncedBeyond",
     .Script = Answer("HTTP/1.0 200 OK\r\nContent-Length: 100001\r\n\r\n").Hold(),
     .Raises = ClassOf<ERangeError>(),
     .Message = TooLong},
    {.Name = "ZeroLimitTakesAnEmptyBody",
     .Script = Answer("HTTP/1.0 200 OK\r\n\r\n").Close(),
     .MaxBodySize = 0},
    {.Name = "ZeroLimitRefusesOneByte",
     .Script = Answer("HTTP/1.0 200 OK\r\n\r\n").SendPattern(1).Close(),
     .MaxBodySize = 0,
     .Raises = ClassOf<ERangeError>(),
     .Message = "Response body longer than 0 bytes"},
};

enum class Into { Text, File };

class BodyLimit : public testing::TestWithParam<std::tuple<LimitCase, Into>> {};

TEST_P(BodyLimit, BoundsTheBody) {
    const auto& [Case, Mode] = GetParam();
    InTempFolder Work;
    LoopbackPeer Peer(Case.Script);
    TestHTTP H(nullptr);
    H.TimeOut = 20000;
    H.MaxBodySize = Case.MaxBodySize;
    H.InputFileMode = Mode == Into::File;
    H.Body = H.InputFileMode ? "body.bin" : "earlier body";

    std::optional<std::type_index> Raised;
    std::string Message;
    try {
        H.Get(Url(Peer.Port()));
    } catch (const std::exception& E) {
        Raised = ClassOf(E);
        Message = E.what();
    }

    ASSERT_EQ(Raised.has_value(), Case.Raises.has_value()) << Message;
    const std::string Body = H.InputFileMode ? ReadWholeFile("body.bin") : H.Body;
    if (Raised) {
        EXPECT_EQ(*Raised, *Case.Raises) << Raised->name() << ": " << Message;
        EXPECT_EQ(Message, Case.Message);
        // What a refused body held is not kept in memory; the file holds at most a chunk past the limit.
        if (!H.InputFileMode) {
            EXPECT_EQ(Body, "");
        }
        EXPECT_LE(Body.size(), static_cast<size_t>(std::max(Case.MaxBodySize, 0)) + 65536);
    } else {
        EXPECT_EQ(Body, PatternBytes(0, Case.BodySize));
    }
    EXPECT_FALSE(H.TimedOut);
    EXPECT_FALSE(H.IsConnected);
    EXPECT_TRUE(Peer.WaitClientClosed());
}

INSTANTIATE_TEST_SUITE_P(Bodies, BodyLimit,
                         testing::Combine(testing::ValuesIn(LimitCases),
                                          testing::Values(Into::Text, Into::File)),
                         [](const testing::TestParamInfo<std::tuple<LimitCase, Into>>& Info) {
                             return std::string(std::get<0>(Info.param).Name) +
                                    (std::get<1>(Info.param) == Into::File ? "_File" : "_Text");
                         });

TEST(NegativeBodyLimit, IsRefusedBeforeConnecting) {
    LoopbackPeer Peer(Answer("HTTP/1.0 200 OK\r\n\r\n").Close());
    TestHTTP H(nullptr);
    H.TimeOut = 20000;
    H.MaxBodySize = -1;
    H.RecordEvents();
    try {
        H.Get(Url(Peer.Port()));
        ADD_FAILURE() << "no exception";
    } catch (const std::exception& E) {
        EXPECT_EQ(ClassOf(E), ClassOf<ERangeError>()) << typeid(E).name();
        EXPECT_EQ(std::string(E.what()), "MaxBodySize -1 is negative");
    }
    EXPECT_TRUE(H.Log.empty()) << testing::PrintToString(H.Log);
    EXPECT_EQ(Peer.Accepted(), 0u);
}

// A disk that is full fails the write of the Body file: the framework's stream error, which a caller
// tells from the socket errors that a broken peer causes.
TEST(BodyFile, OnAFullDiskIsALocalFailure) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    for (const std::string Header :
         {"HTTP/1.0 200 OK\r\n\r\n", "HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n"}) {
        SCOPED_TRACE(Header);
        LoopbackPeer Peer(Answer(Header).SendPattern(5000).Close());
        TestHTTP H(nullptr);
        H.TimeOut = 20000;
        H.InputFileMode = true;
        H.Body = "/dev/full";
        try {
            H.Get(Url(Peer.Port()));
            ADD_FAILURE() << "no exception";
        } catch (const std::exception& E) {
            EXPECT_EQ(ClassOf(E), ClassOf<EStreamWriteError>()) << typeid(E).name() << ": " << E.what();
        }
        EXPECT_FALSE(H.IsConnected);
        EXPECT_TRUE(Peer.WaitClientClosed());
    }
}

} // namespace
