#pragma once
// Helpers that take protocol lines apart and write lines.
#include <cstdint>
#include <string>

class TStream;

// Field N (from 1) of Text split at Separator; empty for N < 1 or beyond the last field.
std::string NthWord(const std::string& Text, char Separator, int32_t N);

// Position (1-based) of the N-th Separator, or length + 1 when there are fewer.
int32_t NthPos(const std::string& Text, char Separator, int32_t N);

// Writes Text followed by CR LF in one write; a short write raises EStreamWriteError.
void StreamLn(TStream& Stream, const std::string& Text);
