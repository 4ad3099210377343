#pragma once
// Text helpers over byte strings in the system's code page.
#include <cstdint>
#include <string>

// Removes every byte with a code from 0 to 32 at both ends.
std::string Trim(const std::string& Text);

// Reads a signed 32-bit integer: optional blanks, then an optional sign and decimal digits, or a
// hexadecimal number introduced by "$", "x", "X", "0x" or "0X" (no sign; values from 0x80000000 up come
// out negative). Anything else, including a trailing blank or an out-of-range value, yields Default.
int32_t StrToIntDef(const std::string& Text, int32_t Default);

// The same parse, raising EConversionError with the runtime's message for a text that is not an integer.
int32_t StrToInt(const std::string& Text);

// True when Text parses; Value receives the number.
bool TryStrToInt(const std::string& Text, int32_t& Value);

// ASCII letters only; other bytes stay as they are.
std::string UpperCase(const std::string& Text);
std::string LowerCase(const std::string& Text);

// Case-insensitive order of two Shift-JIS texts, character by character, as a locale-aware comparison
// orders them: negative, zero or positive. A double-byte character is one character, so its second byte
// is never taken for a letter. Letters compare without regard to case (ASCII and the full-width Latin
// ones), and the classes follow one another: blanks, controls and symbols, then digits, then letters,
// then the other single-byte characters (half-width kana), then the double-byte ones; within a class
// characters go by their code. Texts equal this way have the same length in bytes.
int CompareTextIgnoreCase(const std::string& A, const std::string& B);
