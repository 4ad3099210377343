#include "app/ProxyList.h"

#include "framework/Random.h"
#include "framework/TextHelpers.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace {

std::string_view KeyOf(const std::string& Line) {
    return std::string_view(Line).substr(0, Line.find('('));
}

} // namespace

bool HasSucceededBefore(const std::string& Line) {
    return Line.find(SuccessChar) != std::string::npos;
}

std::string ProxyKey(const std::string& Line) {
    return std::string(KeyOf(Line));
}

TProxyAddress ParseProxyLine(const std::string& Line) {
    const std::string Bare = ProxyKey(Line);
    const size_t Colon = Bare.find(':');
    TProxyAddress Address;
    Address.Host = Colon == std::string::npos ? std::string() : Bare.substr(0, Colon);
    Address.Port = StrToIntDef(Colon == std::string::npos ? Bare : Bare.substr(Colon + 1), 0);
    return Address;
}

TProxyMark MarkFor(bool Fetched, const std::string& Kept) {
    if (Fetched) return TProxyMark::Success;
    const bool Before =
        Kept.find(SuccessChar) != std::string::npos || Kept.find(FallbackChar) != std::string::npos;
    return Before ? TProxyMark::Fallback : TProxyMark::Failure;
}

std::string MarkedLine(const TProxyAddress& Address, TProxyMark Mark) {
    const char* Text = Mark == TProxyMark::Success    ? SuccessMark
                       : Mark == TProxyMark::Fallback ? FallbackMark
                       : Mark == TProxyMark::Failure  ? FailureMark
                                                      : "";
    return Address.Host + ":" + std::to_string(Address.Port) + Text;
}

void CheckMax(TEdit& Edit) {
    // The text itself stays as typed, blanks included, when it passes.
    if (StrToIntDef(Trim(Edit.Text()), -1) < 0) Edit.SetText("20");
}

void ShuffleLines(std::vector<std::string>& Lines) {
    const int Count = static_cast<int>(Lines.size());
    for (int K = 0; K < 3 * Count; ++K) {
        // Two statements, so that a is always drawn before b.
        const int A = Rand() % Count;
        const int B = Rand() % Count;
        std::swap(Lines[static_cast<size_t>(A)], Lines[static_cast<size_t>(B)]);
    }
}

void PromoteSuccesses(std::vector<std::string>& Lines) {
    // The search for the next marked line never needs to look above where the last one ended: the lines
    // it passed hold no mark, and the one it found now holds the unmarked line moved down.
    size_t Search = 0;
    for (size_t I = 0; I < Lines.size(); ++I) {
        if (HasSucceededBefore(Lines[I])) continue;
        Search = std::max(Search, I + 1);
        while (Search < Lines.size() && !HasSucceededBefore(Lines[Search])) ++Search;
        // Nothing marked below this line: every marked line is already above it.
        if (Search >= Lines.size()) return;
        std::swap(Lines[I], Lines[Search]);
        ++Search;
    }
}

void RemoveRepeatedProxies(std::vector<std::string>& Lines) {
    // Which lines stay is decided first, over views into the lines as they stand; then they close up.
    std::vector<bool> Keep(Lines.size());
    {
        std::unordered_set<std::string_view> Seen;
        Seen.reserve(Lines.size());
        for (size_t I = 0; I < Lines.size(); ++I) Keep[I] = Seen.insert(KeyOf(Lines[I])).second;
    }
    size_t Kept = 0;
    for (size_t I = 0; I < Lines.size(); ++I)
        if (Keep[I]) {
            if (Kept != I) Lines[Kept] = std::move(Lines[I]);
            ++Kept;
        }
    Lines.resize(Kept);
}
