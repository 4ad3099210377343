#include "cli/TerminalText.h"

#include "platform/System.h"

#include <array>
#include <cstdio>

namespace {

enum class TMarks { Keep, Escape };

// The marks' characters in UTF-8: ○ U+25CB, △ U+25B3, × U+00D7.
constexpr std::array<const char*, 3> MarkCharacters = {"\xE2\x97\x8B", "\xE2\x96\xB3", "\xC3\x97"};
constexpr std::array<const char*, 3> MarkEscapes = {"\\u25CB", "\\u25B3", "\\u00D7"};
constexpr const char* CutMark = "...";

std::string Hex(const char* Format, unsigned Value) {
    char Buffer[8];
    std::snprintf(Buffer, sizeof Buffer, Format, Value);
    return Buffer;
}

// The length of the UTF-8 sequence at Pos, 0 when it is not a whole, valid one.
size_t SequenceLength(const std::string& Text, size_t Pos) {
    const auto Lead = static_cast<unsigned char>(Text[Pos]);
    const size_t Length = Lead < 0x80             ? 1
                          : (Lead & 0xE0) == 0xC0 ? 2
                          : (Lead & 0xF0) == 0xE0 ? 3
                          : (Lead & 0xF8) == 0xF0 ? 4
                                                  : 0;
    if (Length == 0 || Pos + Length > Text.size()) return 0;
    for (size_t I = 1; I < Length; ++I)
        if ((static_cast<unsigned char>(Text[Pos + I]) & 0xC0) != 0x80) return 0;
    return Length;
}

// The printable form of the character at Pos; Pos moves past it.
std::string Printable(const std::string& Text, size_t& Pos, TMarks Marks) {
    const auto Byte = static_cast<unsigned char>(Text[Pos]);
    const size_t Length = SequenceLength(Text, Pos);
    if (Length == 0) {
        ++Pos;
        return Hex("\\x%02X", Byte);
    }
    const std::string Character = Text.substr(Pos, Length);
    Pos += Length;
    if (Byte < 0x20 || Byte == 0x7F) return Hex("\\x%02X", Byte);
    if (Byte == '\\') return "\\\\";
    const auto Second = Length == 2 ? static_cast<unsigned char>(Character[1]) : 0u;
    if (Byte == 0xC2 && Second >= 0x80 && Second <= 0x9F) return Hex("\\u%04X", Second);
    if (Marks == TMarks::Escape)
        for (size_t I = 0; I < MarkCharacters.size(); ++I)
            if (Character == MarkCharacters[I]) return MarkEscapes[I];
    return Character;
}

// Printable forms of every character of Utf8, up to MaxCharacters characters of output.
std::string Escaped(const std::string& Utf8, TMarks Marks, size_t MaxCharacters) {
    std::string Result;
    size_t Characters = 0;
    for (size_t Pos = 0; Pos < Utf8.size();) {
        const std::string Piece = Printable(Utf8, Pos, Marks);
        // A piece is one character, or an escape whose characters are all ASCII.
        const size_t Width = SequenceLength(Piece, 0) == Piece.size() ? 1 : Piece.size();
        if (Characters + Width > MaxCharacters) return Result + CutMark;
        Result += Piece;
        Characters += Width;
    }
    return Result;
}

} // namespace

std::string LineText(const std::string& Sjis) {
    return Escaped(platform::SjisToUtf8(Sjis), TMarks::Keep, std::string::npos);
}

std::string ReasonText(const std::string& Sjis) {
    return Escaped(platform::SjisToUtf8(Sjis), TMarks::Escape, MaxReasonCharacters);
}
