#include "codec/TVexURL.h"

#include "framework/Exceptions.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

struct TTextCase {
    std::string Input;
    std::string Expected;
};

} // namespace

TEST(TVexURL, EncodesLettersAndDigitsAsThemselvesSpaceAsPlusAndAllElseAsUpperCaseEscapes) {
    const std::vector<TTextCase> Cases = {
        {"", ""},
        {"a b", "a+b"},
        {"a+b", "a%2Bb"},
        {"x-y_z.html", "x%2Dy%5Fz%2Ehtml"},
        {"AZaz09", "AZaz09"},
        {"/~*%", "%2F%7E%2A%25"},
        {std::string("\0\x7F\x80\xFF", 4), "%00%7F%80%FF"},
        {"@[`{", "%40%5B%60%7B"},
    };
    TVexURL Url(nullptr);
    for (const auto& C : Cases) EXPECT_EQ(Url.URLEncode(C.Input), C.Expected) << C.Input;
}

TEST(TVexURL, DecodesPlusAndEscapesOfEitherCase) {
    const std::vector<TTextCase> Cases = {
        {"", ""},
        {"a+b", "a b"},
        {"%41%62", "Ab"},
        {"%2f", "/"},
        {"%00", std::string(1, '\0')},
        {"%FF%fF", "\xFF\xFF"},
        {"%2B+%20", "+  "},
        // An escape is decoded once: its result is not scanned again.
        {"%25%32%46", "%2F"},
        {"a~b", "a~b"},
    };
    TVexURL Url(nullptr);
    for (const auto& C : Cases) EXPECT_EQ(Url.URLDecode(C.Input), C.Expected) << C.Input;
}

TEST(TVexURL, BadEscapeReportsThroughOnErrorAndReturnsTheInputUnchanged) {
    // Each text and the text the integer conversion was given ("$" and what followed the "%").
    const std::vector<TTextCase> Cases = {
        {"100%", "$"},
        {"ab%4", "$4"},
        {"a%zzb", "$zz"},
        {"%4g", "$4g"},
        // The integer conversion alone would take a sign or a blank; an escape must not.
        {"%+1", "$+1"},
        {"% f", "$ f"},
        // What was decoded before the bad escape is discarded with it.
        {"a+b%20c%", "$"},
        // The message keeps its zero byte.
        {std::string("x%\0z", 4), std::string("$\0z", 3)},
    };
    TVexURL Url(nullptr);
    struct TCall {
        TComponent* Sender;
        std::string Operation;
        std::string ErrMsg;
    };
    std::vector<TCall> Calls;
    Url.OnError = [&Calls](TComponent* Sender, const std::string& Operation, const std::string& ErrMsg) {
        Calls.push_back({Sender, Operation, ErrMsg});
    };
    for (const auto& C : Cases) {
        Calls.clear();
        EXPECT_EQ(Url.URLDecode(C.Input), C.Input);
        ASSERT_EQ(Calls.size(), 1u) << C.Input;
        EXPECT_EQ(Calls[0].Sender, &Url);
        EXPECT_EQ(Calls[0].Operation, "Error during decode");
        EXPECT_EQ(Calls[0].ErrMsg, FrameworkTexts::NotAnInteger(C.Expected)) << C.Input;
    }

    Url.OnError = nullptr;
    for (const auto& C : Cases) {
        std::string Result;
        EXPECT_NO_THROW(Result = Url.URLDecode(C.Input));
        EXPECT_EQ(Result, C.Input);
    }
}

TEST(TVexURL, ReadOnlyResultsComeFromInputString) {
    TVexURL Url(nullptr);
    EXPECT_EQ(Url.InputString, "");
    EXPECT_EQ(Url.GetEncodeString(), "");
    Url.InputString = "user=a b&x=1/2";
    EXPECT_EQ(Url.GetEncodeString(), "user%3Da+b%26x%3D1%2F2");
    Url.InputString = "user%3Da+b";
    EXPECT_EQ(Url.GetDecodeString(), "user=a b");
}

TEST(TVexURL, DecodeUndoesEncodeForAnyBytes) {
    std::mt19937 Gen(20240611);
    std::uniform_int_distribution<int> Byte(0, 255);
    std::uniform_int_distribution<int> Length(0, 500);
    std::vector<int> Lengths = {0, 1, 2, 3, 44, 45, 46, 90, 91, 500};
    for (int I = 0; I < 200; ++I) Lengths.push_back(Length(Gen));

    TVexURL Url(nullptr);
    int Errors = 0;
    Url.OnError = [&Errors](TComponent*, const std::string&, const std::string&) { ++Errors; };
    for (int N : Lengths) {
        std::string Data;
        for (int I = 0; I < N; ++I) Data += static_cast<char>(Byte(Gen));
        const std::string Encoded = Url.URLEncode(Data);
        EXPECT_EQ(
            Encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+%"),
            std::string::npos);
        EXPECT_EQ(Url.URLDecode(Encoded), Data);
    }
    EXPECT_EQ(Errors, 0);
}
