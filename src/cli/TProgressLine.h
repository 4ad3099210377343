#pragma once
// The progress of a run as one line at the bottom of a terminal, redrawn in place: a carriage return, the
// text, and an erase to the end of the line. It is redrawn when due (Tick, at most once an interval), is
// hidden while another line is written to the same terminal and shown again after it, and is cleared at
// the end, so nothing of it stays on the screen nor mixes with the lines written above it.
#include "cli/TRunProgress.h"

#include <chrono>
#include <cstdio>
#include <functional>

class TProgressLine {
public:
    using TClock = std::function<TRunProgress::TTime()>;

    static constexpr std::chrono::milliseconds Interval{250};

    // Terminal is where the line is drawn (the standard error, when it is a terminal); Progress is read at
    // every draw.
    TProgressLine(
        std::FILE* Terminal, const TRunProgress& Progress,
        TClock Clock = [] { return std::chrono::steady_clock::now(); });
    // Clears the line.
    ~TProgressLine();
    TProgressLine(const TProgressLine&) = delete;
    TProgressLine& operator=(const TProgressLine&) = delete;

    // Redraws the line when the last draw is an interval old or more; cheap otherwise, so it may be called
    // from every wait of the run.
    void Tick();
    // Takes the line off the screen before another line is written there.
    void Hide();
    // Draws the line again, as of now, after that line.
    void Show();
    // Clears the line for good: nothing is drawn any more.
    void End();

private:
    void Draw();
    void Write(const std::string& Bytes);
    size_t Columns() const;

    std::FILE* FTerminal;
    const TRunProgress& FProgress;
    TClock FClock;
    TRunProgress::TTime FLastDraw{};
    bool FDrawn = false;
    bool FEnded = false;
};
