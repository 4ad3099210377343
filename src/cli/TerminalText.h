#pragma once
// Texts that come from outside the program, made safe to print. A proxy list may come from anywhere and
// a failure reason can carry bytes a peer chose: printed as they are, control bytes would clear or
// retitle the terminal, a line break would forge a line of output, and a reason that holds a mark would
// be found by `vindral-cli | grep '(○)'` like a proxy that worked.
#include <cstddef>
#include <string>

// The longest reason printed, in characters; a longer one is cut and ends in "...".
constexpr size_t MaxReasonCharacters = 200;

// A list line or a status text (Shift-JIS) in UTF-8, with every control character escaped: C0 controls
// and DEL as "\xHH", C1 controls as "\u00HH", and the backslash doubled so that no escape is ambiguous.
// The marks a line carries stay as they are.
std::string LineText(const std::string& Sjis);

// A failure reason (Shift-JIS) in UTF-8, escaped as LineText does, with the characters of the three marks
// escaped too ("\u25CB", "\u25B3", "\u00D7"), and cut to MaxReasonCharacters.
std::string ReasonText(const std::string& Sjis);
