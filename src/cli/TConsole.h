#pragma once
// The program's output: one line per event on stdout, flushed as it happens, so a pipe, a log or grep
// sees each event at once. The system's texts are Shift-JIS; they are always written as UTF-8, whatever
// the locale, so the marks read ○ △ × in a terminal, a cron mail and a grep pattern alike. List lines and
// failure reasons are printed escaped (TerminalText.h). An output that cannot be written any more stops
// the run (TStopSignals::Stop) and is not written again.
#include "app/Unit1.h"

#include <cstdio>
#include <string>

class TConsole {
public:
    // Colour: result lines get the colour of their mark.
    TConsole(std::FILE* Out, bool Colour) : FOut(Out), FColour(Colour) {}

    // Colour for a terminal, unless NO_COLOR is set (the common convention to turn it off).
    static bool WantsColour(std::FILE* Out);

    // A status text of the run (Shift-JIS), as the window's status line would show it, escaped.
    void Status(const std::string& Text);
    // The result line of a visited proxy.
    void VisitResult(const TVisitResult& Result);
    // A line of the program's own (UTF-8).
    void Line(const std::string& Utf8);

    // "[i/N] line T ms", then " - " and the reason for a failure, or " - stopped" for a visit that a stop
    // cut short (its line keeps the text it had). UTF-8, without the line end; the line and the reason
    // escaped, the reason cut to its length.
    static std::string FormatVisitResult(const TVisitResult& Result, bool Colour);

private:
    std::FILE* FOut;
    bool FColour;
    bool FClosed = false; // a write failed
};
