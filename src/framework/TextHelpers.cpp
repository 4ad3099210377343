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

char UpperByte(char C) {
    return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 32) : C;
}
char LowerByte(char C) {
    return (C >= 'A' && C <= 'Z') ? static_cast<char>(C + 32) : C;
}

bool IsLeadByte(unsigned Byte) {
    return (Byte >= 0x81 && Byte <= 0x9F) || (Byte >= 0xE0 && Byte <= 0xFC);
}
bool IsTrailByte(unsigned Byte) {
    return Byte >= 0x40 && Byte <= 0xFC && Byte != 0x7F;
}

// The character at Pos, advancing Pos past it: a byte value, or lead * 256 + trail for a double-byte
// character. A lead byte without a valid trail byte after it is a character of its own.
uint32_t NextCharacter(const std::string& Text, size_t& Pos) {
    const auto Lead = static_cast<unsigned char>(Text[Pos++]);
    if (IsLeadByte(Lead) && Pos < Text.size()) {
        const auto Trail = static_cast<unsigned char>(Text[Pos]);
        if (IsTrailByte(Trail)) {
            ++Pos;
            return Lead * 256u + Trail;
        }
    }
    return Lead;
}

// Full-width Latin letters: capitals from 0x8260, small letters 0x8281 to 0x829A.
constexpr uint32_t WideCapitalA = 0x8260;
constexpr uint32_t WideSmallA = 0x8281;
constexpr uint32_t WideSmallZ = 0x829A;

// The place of a character in the order: its class in the top bits, its code, letters folded to capitals.
uint32_t CollationKey(uint32_t Character) {
    enum : uint32_t { Symbol, Digit, Letter, OtherSingle, Double };
    uint32_t Class = Double;
    if (Character >= 0x100) {
        if (Character >= WideSmallA && Character <= WideSmallZ) Character -= WideSmallA - WideCapitalA;
    } else if (Character >= '0' && Character <= '9') {
        Class = Digit;
    } else if ((Character >= 'A' && Character <= 'Z') || (Character >= 'a' && Character <= 'z')) {
        Class = Letter;
        Character = static_cast<unsigned char>(UpperByte(static_cast<char>(Character)));
    } else {
        Class = Character < 0x80 ? Symbol : OtherSingle;
    }
    return Class << 16 | Character;
}

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
    size_t I = 0;
    size_t J = 0;
    while (I < A.size() && J < B.size()) {
        const uint32_t X = CollationKey(NextCharacter(A, I));
        const uint32_t Y = CollationKey(NextCharacter(B, J));
        if (X != Y) return X < Y ? -1 : 1;
    }
    if (I == A.size() && J == B.size()) return 0;
    return I == A.size() ? -1 : 1;
}
