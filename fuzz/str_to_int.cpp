// StrToIntDef, StrToInt and TryStrToInt against a reference reading written from the rules alone:
// blanks, then a sign and decimal digits, or "$", "x", "X", "0x", "0X" and hex digits; nothing after.
#include "FuzzCheck.h"
#include "framework/Exceptions.h"
#include "framework/TextHelpers.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace {

std::optional<int32_t> Reference(const std::string& Text) {
    const size_t First = Text.find_first_not_of(' ');
    if (First == std::string::npos) return std::nullopt;
    const std::string Rest = Text.substr(First);
    std::string Digits;
    bool Hex = false;
    bool Negative = false;
    if (Rest[0] == '$' || Rest[0] == 'x' || Rest[0] == 'X') {
        Hex = true;
        Digits = Rest.substr(1);
    } else if (Rest.size() >= 2 && Rest[0] == '0' && (Rest[1] == 'x' || Rest[1] == 'X')) {
        Hex = true;
        Digits = Rest.substr(2);
    } else {
        Negative = Rest[0] == '-';
        Digits = Rest[0] == '-' || Rest[0] == '+' ? Rest.substr(1) : Rest;
    }
    const char* Allowed = Hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (Digits.empty() || Digits.find_first_not_of(Allowed) != std::string::npos) return std::nullopt;
    // Leading zeros never matter; more than 10 significant digits never fit.
    const size_t Significant = Digits.find_first_not_of('0');
    if (Significant == std::string::npos) return 0;
    Digits.erase(0, Significant);
    if (Digits.size() > (Hex ? 8u : 10u)) return std::nullopt;
    const uint64_t Value = std::stoull(Digits, nullptr, Hex ? 16 : 10);
    if (Hex) return static_cast<int32_t>(static_cast<uint32_t>(Value));
    if (Negative) {
        if (Value > 2147483648ull) return std::nullopt;
        return static_cast<int32_t>(-static_cast<int64_t>(Value));
    }
    if (Value > 2147483647ull) return std::nullopt;
    return static_cast<int32_t>(Value);
}

void CheckText(const std::string& Text, int32_t Default) {
    const std::optional<int32_t> Expected = Reference(Text);
    FUZZ_CHECK(StrToIntDef(Text, Default) == Expected.value_or(Default));
    int32_t Value = 0;
    FUZZ_CHECK(TryStrToInt(Text, Value) == Expected.has_value());
    if (Expected) FUZZ_CHECK(Value == *Expected);
    try {
        const int32_t Parsed = StrToInt(Text);
        FUZZ_CHECK(Expected && Parsed == *Expected);
    } catch (const EConversionError&) {
        FUZZ_CHECK(!Expected);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    FuzzedDataProvider In(Data, Size);
    const int32_t Default = In.ConsumeIntegral<int32_t>();
    const int32_t Number = In.ConsumeIntegral<int32_t>();
    const std::string Text = In.ConsumeRemainingBytesAsString();
    CheckText(Text, Default);
    // Every number reads back from its decimal text, with blanks before it and in hexadecimal too.
    const std::string Decimal = std::to_string(Number);
    FUZZ_CHECK(StrToIntDef(Decimal, ~Number) == Number);
    FUZZ_CHECK(StrToIntDef("  " + Decimal, ~Number) == Number);
    char Hex[16];
    std::snprintf(Hex, sizeof Hex, "$%X", static_cast<uint32_t>(Number));
    FUZZ_CHECK(StrToIntDef(Hex, ~Number) == Number);
    CheckText(Decimal + Text, Default);
    return 0;
}
