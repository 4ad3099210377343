#include "cli/TRunProgress.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// ○ △ × in UTF-8.
constexpr const char* SuccessSign = "\u25CB";
constexpr const char* FallbackSign = "\u25B3";
constexpr const char* FailureSign = "\u00D7";

// Columns a text takes on a terminal. The marks are of ambiguous width, two columns on many East Asian
// terminals, so every character beyond ASCII counts two: the line may end early, but never wraps.
size_t Columns(const std::string& Utf8) {
    size_t Width = 0;
    for (const char Byte : Utf8) {
        const auto Value = static_cast<unsigned char>(Byte);
        if (Value < 0x80)
            Width += 1;
        else if ((Value & 0xC0) != 0x80)
            Width += 2;
    }
    return Width;
}

// Text cut to the whole characters that fit into Width columns.
std::string Fitted(const std::string& Utf8, size_t Width) {
    size_t Used = 0;
    size_t End = 0;
    while (End < Utf8.size()) {
        const auto Lead = static_cast<unsigned char>(Utf8[End]);
        const size_t Length = Lead < 0x80 ? 1 : Lead < 0xE0 ? 2 : Lead < 0xF0 ? 3 : 4;
        const size_t CharWidth = Lead < 0x80 ? 1 : 2;
        if (Used + CharWidth > Width) break;
        Used += CharWidth;
        End += Length;
    }
    return Utf8.substr(0, End);
}

std::string Rate(double PerSecond) {
    char Buffer[32];
    std::snprintf(Buffer, sizeof Buffer, PerSecond < 10 ? "%.1f/s" : "%.0f/s", PerSecond);
    return Buffer;
}

std::string Duration(long long Seconds) {
    char Buffer[32];
    if (Seconds < 60)
        std::snprintf(Buffer, sizeof Buffer, "%llds", Seconds);
    else if (Seconds < 3600)
        std::snprintf(Buffer, sizeof Buffer, "%lldm%02llds", Seconds / 60, Seconds % 60);
    else
        std::snprintf(Buffer, sizeof Buffer, "%lldh%02lldm", Seconds / 3600, Seconds / 60 % 60);
    return Buffer;
}

} // namespace

void TRunProgress::Begin(int Total, TTime Now) {
    FBegun = true;
    FTotal = Total;
    FStart = Now;
}

void TRunProgress::Finished(TProxyMark Mark) {
    if (FUnderWay > 0) --FUnderWay;
    switch (Mark) {
    case TProxyMark::Success:
        ++FSuccess;
        break;
    case TProxyMark::Fallback:
        ++FFallback;
        break;
    case TProxyMark::Failure:
        ++FFailure;
        break;
    case TProxyMark::None:
        ++FStopped;
        break;
    }
}

std::string TRunProgress::Text(TTime Now, size_t Width) const {
    if (!FBegun || Width < 2) return {};
    const int Done = FSuccess + FFallback + FFailure + FStopped;
    std::vector<std::string> Parts;
    Parts.push_back(std::to_string(Done) + "/" + std::to_string(FTotal) + " done (" + SuccessSign + " " +
                    std::to_string(FSuccess) + ", " + FallbackSign + " " + std::to_string(FFallback) + ", " +
                    FailureSign + " " + std::to_string(FFailure) + ")");
    Parts.push_back(std::to_string(FUnderWay) + " under way");
    const double Seconds = std::chrono::duration<double>(Now - FStart).count();
    if (Done > 0 && Seconds > 0) {
        const double PerSecond = Done / Seconds;
        Parts.push_back(Rate(PerSecond));
        if (Done < FTotal)
            Parts.push_back(Duration(std::llround(std::ceil((FTotal - Done) / PerSecond))) + " left");
    }

    // The last column stays free: a terminal that wraps at it would put the cursor on the next line.
    const size_t Room = Width - 1;
    std::string Line = Parts.front();
    if (Columns(Line) > Room) return Fitted(Line, Room);
    for (size_t I = 1; I < Parts.size(); ++I) {
        const std::string Longer = Line + ", " + Parts[I];
        if (Columns(Longer) > Room) break;
        Line = Longer;
    }
    return Line;
}
