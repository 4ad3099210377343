#pragma once
// The proxy list's marks and the preparation steps a run makes on it before the first visit. The steps
// work in place through the list box, reading its line count and lines afresh at every test, so the
// user sees the list exactly as the run leaves it.
#include "app/Controls.h"

#include <string>

// Result marks, appended right after the port: "(○)", "(△)" and "(×)" in Shift-JIS.
inline constexpr const char* SuccessMark = "(\x81\x9B)";
inline constexpr const char* FallbackMark = "(\x81\xA2)";
inline constexpr const char* FailureMark = "(\x81\x7E)";

// The bare characters "○" and "△"; earlier results are recognised by these anywhere in a line.
inline constexpr const char* SuccessChar = "\x81\x9B";
inline constexpr const char* FallbackChar = "\x81\xA2";

// True when the line holds "○" anywhere, that is when the proxy succeeded in an earlier run.
bool HasSucceededBefore(const std::string& Line);

// The part of the line before its first "(", or the whole line; compared byte for byte.
std::string ProxyKey(const std::string& Line);

// Max must be a non-negative integer (trimmed for the test); anything else becomes "20".
void CheckMax(TEdit& Edit);

// 3 × N exchanges of lines a and b, each pair drawn a first, then b (6 × N draws in all).
void ShuffleLines(TMemo& Memo);

// Moves every line holding "○" above every line that does not.
void PromoteSuccesses(TMemo& Memo);

// Keeps only the top-most line of each proxy key.
void RemoveRepeatedProxies(TMemo& Memo);
