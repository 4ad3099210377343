#include "cli/TConsole.h"

#include "cli/JsonResult.h"
#include "cli/TProgressLine.h"
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

TConsole::TConsole(std::FILE* Out, std::FILE* Err, TOutputFormat Format, bool Colour)
    : FOut(Out), FErr(Err), FFormat(Format), FColour(Colour && Format == TOutputFormat::Text),
      FOutIsTerminal(::isatty(::fileno(Out)) == 1) {}

bool TConsole::WantsColour(std::FILE* Out) {
    const char* NoColour = std::getenv("NO_COLOR");
    return ::isatty(::fileno(Out)) == 1 && (!NoColour || !*NoColour);
}

void TConsole::Status(const std::string& Text) {
    if (FFormat == TOutputFormat::Text) Line(LineText(Text));
}

void TConsole::VisitResult(const TVisitResult& Result) {
    Line(FFormat == TOutputFormat::Jsonl ? JsonResultLine(Result) : FormatVisitResult(Result, FColour));
}

void TConsole::Note(const std::string& Utf8) {
    if (FFormat == TOutputFormat::Text)
        Line(Utf8);
    else
        Error(Utf8);
}

void TConsole::Error(const std::string& Utf8) {
    ErrorLine("vindral-cli: " + Utf8);
}

bool TConsole::Covers(std::FILE* Stream) const {
    return FProgress && (Stream == FErr || FOutIsTerminal);
}

void TConsole::Line(const std::string& Utf8) {
    if (FClosed) return;
    const bool Covered = Covers(FOut);
    if (Covered) FProgress->Hide();
    std::fwrite(Utf8.data(), 1, Utf8.size(), FOut);
    std::fputc('\n', FOut);
    // A reader that went away (vindral-cli | head -1) or a full disk: nobody reads the rest, so the run
    // stops as a signal stops it, and saves what it has.
    if (std::fflush(FOut) != 0 || std::ferror(FOut)) {
        FClosed = true;
        TStopSignals::Stop(SIGPIPE);
    }
    if (Covered) FProgress->Show();
}

void TConsole::ErrorLine(const std::string& Utf8) {
    const bool Covered = Covers(FErr);
    if (Covered) FProgress->Hide();
    std::fprintf(FErr, "%s\n", Utf8.c_str());
    std::fflush(FErr);
    if (Covered) FProgress->Show();
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
