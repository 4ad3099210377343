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

// Case-insensitive order of two texts: negative, zero or positive. ASCII letters are folded, so
// names of any letter case compare equal; other bytes compare by value.
int CompareTextIgnoreCase(const std::string& A, const std::string& B);
