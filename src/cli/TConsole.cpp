#include "cli/TConsole.h"

#include "cli/TStopSignals.h"
#include "cli/TerminalText.h"

#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace {

const char* ColourOf(TProxyMark Mark) {
    switch (Mark) {
    case TProxyMark::Success:
        return "\x1b[32m"; // green
    case TProxyMark::Fallback:
        return "\x1b[33m"; // yellow
    case TProxyMark::Failure:
        return "\x1b[31m"; // red
    case TProxyMark::None:
        break;
    }
    return nullptr;
}

constexpr const char* ColourReset = "\x1b[0m";

} // namespace

bool TConsole::WantsColour(std::FILE* Out) {
    const char* NoColour = std::getenv("NO_COLOR");
    return ::isatty(::fileno(Out)) == 1 && (!NoColour || !*NoColour);
}

void TConsole::Status(const std::string& Text) {
    Line(LineText(Text));
}

void TConsole::VisitResult(const TVisitResult& Result) {
    Line(FormatVisitResult(Result, FColour));
}

void TConsole::Line(const std::string& Utf8) {
    if (FClosed) return;
    std::fwrite(Utf8.data(), 1, Utf8.size(), FOut);
    std::fputc('\n', FOut);
    // A reader that went away (vindral-cli | head -1) or a full disk: nobody reads the rest, so the run
    // stops as a signal stops it, and saves what it has.
    if (std::fflush(FOut) != 0 || std::ferror(FOut)) {
        FClosed = true;
        TStopSignals::Stop(SIGPIPE);
    }
}

std::string TConsole::FormatVisitResult(const TVisitResult& Result, bool Colour) {
    std::string Text = "[" + std::to_string(Result.Index + 1) + "/" + std::to_string(Result.Count) + "] " +
                       LineText(Result.Line) + " " + std::to_string(Result.Milliseconds) + " ms";
    if (Result.Mark == TProxyMark::None)
        Text += Result.Failure.empty() ? " - stopped" : " - stopped: " + ReasonText(Result.Failure);
    else if (Result.Mark != TProxyMark::Success && !Result.Failure.empty())
        Text += " - " + ReasonText(Result.Failure);
    const char* Start = Colour ? ColourOf(Result.Mark) : nullptr;
    return Start ? Start + Text + ColourReset : Text;
}
