// One visit's result as a JSON line: read back by the library, every field as the result holds it, the
// texts in Unicode, on one line of plain ASCII whatever bytes a list or a peer put into them.
#include "cli/JsonResult.h"

#include "app/ProxyList.h"
#include "cli/TerminalText.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

using nlohmann::json;

struct JsonCase {
    const char* Name;
    TVisitResult Result;
    json Expected; // the fields that differ from case to case
};

void PrintTo(const JsonCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

TVisitResult Visit(std::string Line, TProxyMark Mark, std::string Failure) {
    TVisitResult Result;
    Result.Index = 2;
    Result.Count = 7;
    Result.Line = std::move(Line);
    Result.Mark = Mark;
    Result.Milliseconds = 1234;
    Result.Failure = std::move(Failure);
    return Result;
}

class JsonResult : public ::testing::TestWithParam<JsonCase> {};

TEST_P(JsonResult, ReadsBackAsTheResultOnOneAsciiLine) {
    const JsonCase& Case = GetParam();
    const std::string Line = JsonResultLine(Case.Result);
    for (const char Byte : Line) {
        const auto Value = static_cast<unsigned char>(Byte);
        ASSERT_TRUE(Value >= 0x20 && Value < 0x7F) << Line;
    }
    const json Object = json::parse(Line);
    EXPECT_EQ(Object["position"], 3);
    EXPECT_EQ(Object["count"], 7);
    EXPECT_EQ(Object["milliseconds"], 1234);
    for (const auto& [Key, Value] : Case.Expected.items())
        EXPECT_EQ(Object[Key], Value) << Key << " in " << Line;
    EXPECT_EQ(Object.size(), 8u) << Line;
}

INSTANTIATE_TEST_SUITE_P(
    Results, JsonResult,
    ::testing::Values(
        JsonCase{"Success",
                 Visit("127.0.0.1:8080" + std::string(SuccessMark), TProxyMark::Success, ""),
                 {{"line", "127.0.0.1:8080(\u25CB)"},
                  {"host", "127.0.0.1"},
                  {"port", 8080},
                  {"mark", "ok"},
                  {"reason", nullptr}}},
        JsonCase{
            "Fallback",
            Visit("10.0.0.1:3128" + std::string(FallbackMark), TProxyMark::Fallback, "Connection Failed"),
            {{"line", "10.0.0.1:3128(\u25B3)"}, {"mark", "fallback"}, {"reason", "Connection Failed"}}},
        // A peer's bytes in the reason come back as they were, escaped on the line.
        JsonCase{
            "ControlBytesInTheReason",
            Visit("h:1" + std::string(FailureMark), TProxyMark::Failure, "\x1b[2J\r\n{\"mark\":\"ok\"}\\"),
            {{"mark", "fail"}, {"reason", "\x1b[2J\r\n{\"mark\":\"ok\"}\\"}}},
        // A stopped visit keeps its line, a note in Japanese included.
        JsonCase{"StoppedWithJapanese",
                 Visit("127.0.0.1:80(\x83\x41\x83\x8A \x91\xAC\x82\xA2)", TProxyMark::None, ""),
                 {{"line", "127.0.0.1:80(\u30A2\u30EA \u901F\u3044)"},
                  {"port", 80},
                  {"mark", "stopped"},
                  {"reason", nullptr}}},
        // Bytes that are no Shift-JIS still give a line that parses.
        JsonCase{"BrokenShiftJis", Visit("h\x83:8\xFF", TProxyMark::Failure, "bad \x81"), {{"mark", "fail"}}},
        JsonCase{"NoPort", Visit("example", TProxyMark::Failure, "x"), {{"host", ""}, {"port", 0}}},
        JsonCase{"LongReasonCut",
                 Visit("h:1", TProxyMark::Failure, std::string(MaxReasonCharacters + 50, 'r')),
                 {{"reason", std::string(MaxReasonCharacters, 'r') + "..."}}}),
    [](const ::testing::TestParamInfo<JsonCase>& Info) { return std::string(Info.param.Name); });

} // namespace
