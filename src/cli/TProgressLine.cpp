#include "cli/TProgressLine.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Back to the start of the line, and the line erased from there.
constexpr const char* StartOfLine = "\r";
constexpr const char* EraseToEnd = "\x1b[K";
// A terminal that does not tell its width is taken to have the classic one.
constexpr size_t DefaultColumns = 80;

} // namespace

TProgressLine::TProgressLine(std::FILE* Terminal, const TRunProgress& Progress, TClock Clock)
    : FTerminal(Terminal), FProgress(Progress), FClock(std::move(Clock)) {}

TProgressLine::~TProgressLine() {
    End();
}

void TProgressLine::Tick() {
    if (FEnded || FClock() - FLastDraw < Interval) return;
    Draw();
}

void TProgressLine::Hide() {
    if (!FDrawn) return;
    Write(std::string(StartOfLine) + EraseToEnd);
    FDrawn = false;
}

void TProgressLine::Show() {
    if (!FEnded) Draw();
}

void TProgressLine::End() {
    Hide();
    FEnded = true;
}

void TProgressLine::Draw() {
    const TRunProgress::TTime Now = FClock();
    // The width is asked at every draw: the window may have been resized meanwhile.
    const std::string Text = FProgress.Text(Now, Columns());
    FLastDraw = Now;
    if (Text.empty()) {
        Hide();
        return;
    }
    Write(StartOfLine + Text + EraseToEnd);
    FDrawn = true;
}

void TProgressLine::Write(const std::string& Bytes) {
    // One write for the whole line where the terminal takes it, so it never shows half of it. A failure
    // ends the writing: the line is only ever a courtesy.
    std::fflush(FTerminal);
    const int Fd = ::fileno(FTerminal);
    for (size_t Done = 0; Done < Bytes.size();) {
        const ssize_t N = ::write(Fd, Bytes.data() + Done, Bytes.size() - Done);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) return;
        Done += static_cast<size_t>(N);
    }
}

size_t TProgressLine::Columns() const {
    winsize Size{};
    if (::ioctl(::fileno(FTerminal), TIOCGWINSZ, &Size) == 0 && Size.ws_col > 0) return Size.ws_col;
    return DefaultColumns;
}
