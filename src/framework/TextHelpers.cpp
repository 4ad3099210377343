#include "TextHelpers.h"

#include "Exceptions.h"

#include <cstddef>

namespace {

bool IsHexDigit(char C) {
    return (C >= '0' && C <= '9') || (C >= 'a' && C <= 'f') || (C >= 'A' && C <= 'F');
}

int HexValue(char C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    return C - 'A' + 10;
}

bool ParseHex(const std::string& Text, size_t Pos, int32_t& Value) {
    if (Pos >= Text.size()) return false;
    uint64_t Acc = 0;
    for (; Pos < Text.size(); ++Pos) {
        if (!IsHexDigit(Text[Pos])) return false;
        Acc = Acc * 16 + static_cast<uint64_t>(HexValue(Text[Pos]));
        if (Acc > 0xFFFFFFFFull) return false;
    }
    Value = static_cast<int32_t>(static_cast<uint32_t>(Acc));
    return true;
}

bool ParseDecimal(const std::string& Text, size_t Pos, int32_t& Value) {
    bool Negative = false;
    if (Pos < Text.size() && (Text[Pos] == '+' || Text[Pos] == '-')) {
        Negative = Text[Pos] == '-';
        ++Pos;
    }
    if (Pos >= Text.size()) return false;
    int64_t Acc = 0;
    for (; Pos < Text.size(); ++Pos) {
        char C = Text[Pos];
        if (C < '0' || C > '9') return false;
        Acc = Acc * 10 + (C - '0');
        if (Acc > 2147483648LL) return false;
    }
    if (Negative) Acc = -Acc;
    if (Acc > 2147483647LL) return false;
    Value = static_cast<int32_t>(Acc);
    return true;
}

char UpperByte(char C) { return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 32) : C; }
char LowerByte(char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C + 32) : C; }

} // namespace

std::string Trim(const std::string& Text) {
    size_t First = 0;
    size_t Last = Text.size();
    while (First < Last && static_cast<unsigned char>(Text[First]) <= 32) ++First;
    while (Last > First && static_cast<unsigned char>(Text[Last - 1]) <= 32) --Last;
    return Text.substr(First, Last - First);
}

bool TryStrToInt(const std::string& Text, int32_t& Value) {
    size_t Pos = 0;
    while (Pos < Text.size() && Text[Pos] == ' ') ++Pos;
    if (Pos >= Text.size()) return false;
    char C = Text[Pos];
    if (C == '$' || C == 'x' || C == 'X') return ParseHex(Text, Pos + 1, Value);
    if (C == '0' && Pos + 1 < Text.size() && (Text[Pos + 1] == 'x' || Text[Pos + 1] == 'X'))
        return ParseHex(Text, Pos + 2, Value);
    return ParseDecimal(Text, Pos, Value);
}

int32_t StrToIntDef(const std::string& Text, int32_t Default) {
    int32_t Value = 0;
    return TryStrToInt(Text, Value) ? Value : Default;
}

int32_t StrToInt(const std::string& Text) {
    int32_t Value = 0;
    if (!TryStrToInt(Text, Value)) throw EConversionError(FrameworkTexts::NotAnInteger(Text));
    return Value;
}

std::string UpperCase(const std::string& Text) {
    std::string Result = Text;
    for (char& C : Result) C = UpperByte(C);
    return Result;
}

std::string LowerCase(const std::string& Text) {
    std::string Result = Text;
    for (char& C : Result) C = LowerByte(C);
    return Result;
}

int CompareTextIgnoreCase(const std::string& A, const std::string& B) {
    size_t N = A.size() < B.size() ? A.size() : B.size();
    for (size_t I = 0; I < N; ++I) {
        auto X = static_cast<unsigned char>(UpperByte(A[I]));
        auto Y = static_cast<unsigned char>(UpperByte(B[I]));
        if (X != Y) return X < Y ? -1 : 1;
    }
    if (A.size() == B.size()) return 0;
    return A.size() < B.size() ? -1 : 1;
}
