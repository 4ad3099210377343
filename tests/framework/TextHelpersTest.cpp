#include "framework/TextHelpers.h"
#include "framework/Exceptions.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct ParseCase {
    const char* Text;
    bool Parses;
    int32_t Value;
};

// Every rule of the integer reading, its boundaries, and what falls back to the default.
const ParseCase ParseCases[] = {
    {"0", true, 0},
    {"42", true, 42},
    {"+42", true, 42},
    {"-42", true, -42},
    {"   7", true, 7},
    {"007", true, 7}, // a leading zero stays decimal
    {"2147483647", true, 2147483647},
    {"-2147483648", true, INT32_MIN},
    {"2147483648", false, 0},
    {"-2147483649", false, 0},
    {"99999999999999999999", false, 0},
    {"$1F", true, 31},
    {"x1f", true, 31},
    {"X1F", true, 31},
    {"0x10", true, 16},
    {"0XaBc", true, 0xABC},
    {"  $10", true, 16},
    {"$7FFFFFFF", true, 2147483647},
    {"$80000000", true, INT32_MIN},
    {"$FFFFFFFF", true, -1},
    {"$100000000", false, 0},
    {"$00000000FF", true, 255}, // leading zeros do not count against 32 bits
    {"-$10", false, 0},         // no sign before a hexadecimal number
    {"+0x10", false, 0},
    {"$", false, 0},
    {"0x", false, 0},
    {"x", false, 0},
    {"$G", false, 0},
    {"", false, 0},
    {"   ", false, 0},
    {"7 ", false, 0},  // a trailing blank
    {"\t7", false, 0}, // only code 32 is a leading blank
    {"+", false, 0},
    {"-", false, 0},
    {"12ab", false, 0},
    {"1.5", false, 0},
    {"- 1", false, 0},
};

TEST(StrToIntDef, FollowsEveryRuleOfTheTable) {
    for (const ParseCase& C : ParseCases) {
        SCOPED_TRACE(std::string("text '") + C.Text + "'");
        EXPECT_EQ(StrToIntDef(C.Text, -999), C.Parses ? C.Value : -999);
        if (C.Parses) {
            EXPECT_EQ(StrToInt(C.Text), C.Value);
        } else {
            EXPECT_THROW(StrToInt(C.Text), EConversionError);
        }
    }
}

TEST(StrToInt, ConversionErrorQuotesTheTextInTheRuntimeMessage) {
    try {
        StrToInt("$zz");
        FAIL() << "no exception";
    } catch (const EConversionError& E) {
        EXPECT_EQ(E.Message,
                  "'$zz' \x82\xCD\x90\xAE\x90\x94\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1");
    }
}

TEST(Trim, RemovesControlBytesAndBlanksAtBothEndsOnly) {
    EXPECT_EQ(Trim(std::string("\0\t a b \r\n", 9)), "a b");
    EXPECT_EQ(Trim(" \x01\x20 "), "");
    EXPECT_EQ(Trim(""), "");
    // Bytes above 127 (Shift-JIS lead bytes) are not blanks.
    EXPECT_EQ(Trim(" \x81\x9B "), "\x81\x9B");
}

TEST(CaseHelpers, FoldAsciiLettersOnly) {
    EXPECT_EQ(UpperCase("Content-Length: 5\x81\x9b"), "CONTENT-LENGTH: 5\x81\x9b");
    EXPECT_EQ(LowerCase("HTTPS"), "https");
}

struct CompareCase {
    const char* A;
    const char* B;
    int Order; // the sign CompareTextIgnoreCase(A, B) must have
};

void PrintTo(const CompareCase& C, std::ostream* Out) {
    *Out << testing::PrintToString(std::string(C.A)) << " against "
         << testing::PrintToString(std::string(C.B));
}

class CompareTextIgnoreCaseTest : public testing::TestWithParam<CompareCase> {};

TEST_P(CompareTextIgnoreCaseTest, OrdersWholeCharactersAsALocaleAwareComparison) {
    const CompareCase& C = GetParam();
    const auto Sign = [](int V) { return (V > 0) - (V < 0); };
    EXPECT_EQ(Sign(CompareTextIgnoreCase(C.A, C.B)), C.Order);
    // The order is antisymmetric.
    EXPECT_EQ(Sign(CompareTextIgnoreCase(C.B, C.A)), -C.Order);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompareTextIgnoreCaseTest,
    testing::Values(
        // ASCII letters of either case are the same letter.
        CompareCase{"Host", "HOST", 0}, CompareCase{"Accept", "host", -1}, CompareCase{"Hosts", "host", 1},
        CompareCase{"", "a", -1}, CompareCase{"", "", 0},
        // The second byte of a double-byte character is no letter: katakana A (0x83 0x41) and DI
        // (0x83 0x61) differ, as do two kanji whose second bytes are 'X' and 'x'.
        CompareCase{"\x83\x41", "\x83\x61", -1}, CompareCase{"\x83\x41", "\x83\x41", 0},
        CompareCase{"\x88\x58", "\x88\x78", -1},
        CompareCase{"a\x83\x61"
                    "b",
                    "A\x83\x61"
                    "B",
                    0},
        // Symbols, the ones between the capitals and the small letters included, come before letters;
        // digits come between them.
        CompareCase{"[", "a", -1}, CompareCase{"\\", "A", -1}, CompareCase{"]", "Z", -1},
        CompareCase{"^", "z", -1}, CompareCase{"_", "a", -1}, CompareCase{"~", "a", -1},
        CompareCase{"X_Y", "XAY", -1}, CompareCase{"9", "a", -1}, CompareCase{"-", "0", -1},
        CompareCase{" ", "!", -1},
        // Then half-width kana, then double-byte characters.
        CompareCase{"z", "\xB1", -1}, CompareCase{"\xB1", "\x81\x40", -1},
        CompareCase{"\x82\x60", "\x83\x41", -1},
        // Full-width capitals and small letters are the same letter too, and not the ASCII one.
        CompareCase{"\x82\x60\x82\x61", "\x82\x81\x82\x82", 0}, CompareCase{"A", "\x82\x60", -1},
        // A lead byte without its second byte is a character of its own.
        CompareCase{"\x83", "\x83\x41", -1}, CompareCase{"\x83:", "\x83:", 0}));

} // namespace
