#include "cli/JsonResult.h"

#include "app/ProxyList.h"
#include "cli/TerminalText.h"
#include "framework/TextHelpers.h"
#include "platform/System.h"

#include <nlohmann/json.hpp>

namespace {

using TJson = nlohmann::ordered_json;

// At most MaxCharacters characters of a UTF-8 text, with "..." where it was cut.
std::string Capped(const std::string& Utf8, size_t MaxCharacters) {
    size_t Characters = 0;
    for (size_t Pos = 0; Pos < Utf8.size(); ++Pos) {
        if ((static_cast<unsigned char>(Utf8[Pos]) & 0xC0) == 0x80) continue; // inside a character
        if (Characters++ == MaxCharacters) return Utf8.substr(0, Pos) + "...";
    }
    return Utf8;
}

} // namespace

const char* MarkName(TProxyMark Mark) {
    switch (Mark) {
    case TProxyMark::Success:
        return "ok";
    case TProxyMark::Fallback:
        return "fallback";
    case TProxyMark::Failure:
        return "fail";
    case TProxyMark::None:
        break;
    }
    return "stopped";
}

std::string JsonResultLine(const TVisitResult& Result) {
    const std::string Kept = Trim(Result.Line);
    const TProxyAddress Address = Kept.empty() ? TProxyAddress() : ParseProxyLine(Kept);
    TJson Object;
    Object["position"] = Result.Index + 1;
    Object["count"] = Result.Count;
    Object["line"] = platform::SjisToUtf8(Result.Line);
    Object["host"] = platform::SjisToUtf8(Address.Host);
    Object["port"] = Address.Port;
    Object["mark"] = MarkName(Result.Mark);
    Object["milliseconds"] = Result.Milliseconds;
    Object["reason"] = Result.Failure.empty()
                           ? TJson()
                           : TJson(Capped(platform::SjisToUtf8(Result.Failure), MaxReasonCharacters));
    // The conversion gives whole characters; should it ever not, a broken one becomes U+FFFD rather
    // than an exception in the middle of a run.
    return Object.dump(-1, ' ', true, TJson::error_handler_t::replace);
}
