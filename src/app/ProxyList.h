#pragma once
// The proxy list's marks, how a line is cut into host and port, and the preparation steps a run makes on
// the list before the first visit. The steps work on the lines as one vector, each in time proportional
// to the list (de-duplication on average), and give exactly the list, and take exactly the draws, that
// the steps made line by line through the list box would.
#include "app/Controls.h"

#include <cstdint>
#include <string>
#include <vector>

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

// A trimmed, non-empty list line cut as the run cuts it: the mark and anything after the first "(" are
// dropped, the host is the text before the first ":" (empty without one), the port the text after it
// (the whole text without one) read as an integer with default 0, untrimmed.
struct TProxyAddress {
    std::string Host;
    int32_t Port = 0;
};
TProxyAddress ParseProxyLine(const std::string& Line);

// The mark a run wrote on a proxy line; None when the line was left as it was (a stop).
enum class TProxyMark { None, Success, Fallback, Failure };

// The mark a finished visit earns. Kept is the trimmed line as it stood when the visit started: a failure
// of a line that held "○" or "△" is the fallback.
TProxyMark MarkFor(bool Fetched, const std::string& Kept);

// The line a finished visit leaves: rebuilt from host and port (the port in plain decimal), with the mark.
std::string MarkedLine(const TProxyAddress& Address, TProxyMark Mark);

// Max must be a non-negative integer (trimmed for the test); anything else becomes "20".
void CheckMax(TEdit& Edit);

// 3 × N exchanges of lines a and b, each pair drawn a first, then b (6 × N draws in all).
void ShuffleLines(std::vector<std::string>& Lines);

// Moves every line holding "○" above every line that does not, by the exchanges of a search from the
// top: the first line without the mark changes places with the first marked line below it, and so on.
void PromoteSuccesses(std::vector<std::string>& Lines);

// Keeps only the top-most line of each proxy key.
void RemoveRepeatedProxies(std::vector<std::string>& Lines);
