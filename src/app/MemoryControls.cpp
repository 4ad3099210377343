#include "app/MemoryControls.h"

std::vector<std::string> TMemoryMemo::Lines() const {
    std::vector<std::string> Result;
    Result.reserve(static_cast<size_t>(FLines.Count()));
    for (int I = 0; I < FLines.Count(); ++I) Result.push_back(FLines.Get(I));
    return Result;
}

void TMemoryMemo::SetLines(std::vector<std::string> Lines) {
    FLines.Clear();
    for (const std::string& Line : Lines) FLines.Add(Line);
}
