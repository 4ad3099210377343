// What vindral-cli prints of texts from outside: control bytes escaped, reasons unable to pass for a mark
// or a line of their own, and cut to their length.
#include "cli/TerminalText.h"
#include "cli/TConsole.h"

#include "app/ProxyList.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct EscapeCase {
    const char* Name;
    std::string Sjis;
    std::string Line;   // LineText
    std::string Reason; // ReasonText
};

void PrintTo(const EscapeCase& C, std::ostream* Out) {
    *Out << C.Name;
}

class TerminalTextTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(TerminalTextTest, EscapesWhatATerminalOrAReaderWouldTakeForSomethingElse) {
    EXPECT_EQ(LineText(GetParam().Sjis), GetParam().Line);
    EXPECT_EQ(ReasonText(GetParam().Sjis), GetParam().Reason);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TerminalTextTest,
    ::testing::Values(
        EscapeCase{"Plain", "10060:Connection timed out", "10060:Connection timed out",
                   "10060:Connection timed out"},
        // Clearing the screen and retitling the terminal.
        EscapeCase{"EscapeSequences", "\x1b[2J\x1b]0;owned\x07", "\\x1B[2J\\x1B]0;owned\\x07",
                   "\\x1B[2J\\x1B]0;owned\\x07"},
        // A line break would start a line of output that the peer wrote.
        EscapeCase{"LineBreaks", "a\r\nb\nc\rd\te", "a\\x0D\\x0Ab\\x0Ac\\x0Dd\\x09e",
                   "a\\x0D\\x0Ab\\x0Ac\\x0Dd\\x09e"},
        EscapeCase{"ZeroAndDelete", std::string("a\0b\x7f", 4), "a\\x00b\\x7F", "a\\x00b\\x7F"},
        // The escape character itself is doubled, so "\x1B" in a text never reads as an escaped ESC.
        EscapeCase{"Backslash", "C:\\x1B", "C:\\\\x1B", "C:\\\\x1B"},
        // The marks: kept in a line, which carries its own mark; escaped in a reason, so that grep never
        // finds a failure by the mark of a success.
        EscapeCase{"Marks", "(\x81\x9B)(\x81\xA2)(\x81\x7E)", "(\u25CB)(\u25B3)(\u00D7)",
                   "(\\u25CB)(\\u25B3)(\\u00D7)"},
        // Other Japanese text passes as it is.
        EscapeCase{"Japanese", "\x83\x41\x83\x8A", "\u30A2\u30EA", "\u30A2\u30EA"}),
    [](const ::testing::TestParamInfo<EscapeCase>& Info) { return std::string(Info.param.Name); });

TEST(TerminalText, ReasonsAreCutToTheirLengthOnACharacterBoundary) {
    EXPECT_EQ(ReasonText(std::string(MaxReasonCharacters, 'x')), std::string(MaxReasonCharacters, 'x'));
    EXPECT_EQ(ReasonText(std::string(MaxReasonCharacters + 1, 'x')),
              std::string(MaxReasonCharacters, 'x') + "...");
    EXPECT_EQ(ReasonText(std::string(100000, 'x')).size(), MaxReasonCharacters + 3);
    // Double-byte characters count once, and an escape is never cut in two.
    std::string Kana;
    for (size_t I = 0; I < MaxReasonCharacters + 5; ++I) Kana += "\x83\x41";
    std::string Expected;
    for (size_t I = 0; I < MaxReasonCharacters; ++I) Expected += "\u30A2";
    EXPECT_EQ(ReasonText(Kana), Expected + "...");
    EXPECT_EQ(ReasonText(std::string(MaxReasonCharacters - 2, 'x') + "\x1b"),
              std::string(MaxReasonCharacters - 2, 'x') + "...");
    // Lines are the user's list and are never cut.
    EXPECT_EQ(LineText(std::string(100000, 'x')).size(), 100000u);
}

// A failure whose reason holds a mark and a forged line: the result line is still one line, with one
// mark, the one the run gave.
TEST(TerminalText, AResultLineCarriesOnlyItsOwnMark) {
    TVisitResult Result;
    Result.Index = 0;
    Result.Count = 2;
    Result.Line = "127.0.0.1:8080" + std::string(FailureMark);
    Result.Mark = TProxyMark::Failure;
    Result.Milliseconds = 12;
    Result.Failure = "x (\x81\x9B)\n[2/2] 10.0.0.1:80(\x81\x9B) 1 ms\x1b[2J";
    const std::string Text = TConsole::FormatVisitResult(Result, false);
    EXPECT_EQ(Text,
              "[1/2] 127.0.0.1:8080(\u00D7) 12 ms - x (\\u25CB)\\x0A[2/2] 10.0.0.1:80(\\u25CB) 1 ms\\x1B[2J");
    EXPECT_EQ(Text.find("(\u25CB)"), std::string::npos);
    EXPECT_EQ(Text.find('\n'), std::string::npos);

    Result.Mark = TProxyMark::None;
    Result.Line = "127.0.0.1:8080\x1b[31m";
    EXPECT_EQ(TConsole::FormatVisitResult(Result, false)
                  .rfind("[1/2] 127.0.0.1:8080\\x1B[31m 12 ms - stopped: x (\\u25CB)", 0),
              0u);
}

} // namespace
