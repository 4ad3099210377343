#pragma once
// The program's output. In the text format: one line per event on stdout, flushed as it happens, so a
// pipe, a log or grep sees each event at once. In the jsonl format: one JSON object per finished proxy on
// stdout and nothing else; the status texts are left out (the objects tell the same) and the program's
// own notes go to stderr. The system's texts are Shift-JIS; they are always written as UTF-8, whatever
// the locale, so the marks read ○ △ × in a terminal, a cron mail and a grep pattern alike. List lines and
// failure reasons are printed escaped (TerminalText.h). An output that cannot be written any more stops
// the run (TStopSignals::Stop) and is not written again.
//
// With a progress line (on stderr, a terminal), every line written where it is drawn (stderr, and stdout
// when that is a terminal too) goes above it: the line is hidden, the other written, the line shown again.
#include "app/Unit1.h"
#include "cli/OutputFormat.h"

#include <cstdio>
#include <string>

class TProgressLine;

class TConsole {
public:
    // Colour: result lines of the text format get the colour of their mark.
    TConsole(std::FILE* Out, std::FILE* Err, TOutputFormat Format, bool Colour);

    // Colour for a terminal, unless NO_COLOR is set (the common convention to turn it off).
    static bool WantsColour(std::FILE* Out);

    // Keeps the lines written below the progress line from now on; null: none.
    void SetProgressLine(TProgressLine* Line) { FProgress = Line; }

    // A status text of the run (Shift-JIS), as the window's status line would show it, escaped.
    void Status(const std::string& Text);
    // The result of a visited proxy.
    void VisitResult(const TVisitResult& Result);
    // A line of the program's own (UTF-8): on stdout in the text format, on stderr as an error is in the
    // jsonl format.
    void Note(const std::string& Utf8);
    // "vindral-cli: " and the text (UTF-8), on stderr.
    void Error(const std::string& Utf8);

    // "[i/N] line T ms", then " - " and the reason for a failure, or " - stopped" for a visit that a stop
    // cut short (its line keeps the text it had). UTF-8, without the line end; the line and the reason
    // escaped, the reason cut to its length.
    static std::string FormatVisitResult(const TVisitResult& Result, bool Colour);

private:
    void Line(const std::string& Utf8);
    void ErrorLine(const std::string& Utf8);
    // Whether a line written to Stream lands where the progress line is drawn.
    bool Covers(std::FILE* Stream) const;

    std::FILE* FOut;
    std::FILE* FErr;
    TOutputFormat FFormat;
    bool FColour;
    bool FOutIsTerminal;
    bool FClosed = false; // a write to stdout failed
    TProgressLine* FProgress = nullptr;
};
