#include "app/Controls.h"

std::vector<std::string> TMemo::Lines() const {
    std::vector<std::string> Result;
    const int Count = LineCount();
    Result.reserve(static_cast<size_t>(Count));
    for (int I = 0; I < Count; ++I) Result.push_back(Line(I));
    return Result;
}

void TMemo::SetLines(std::vector<std::string> Lines) {
    Clear();
    for (const std::string& Line : Lines) AppendLine(Line);
}
