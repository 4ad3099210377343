#include "net/WordHelpers.h"

#include "framework/TStream.h"

std::string NthWord(const std::string& Text, char Separator, int32_t N) {
    std::string Word;
    // Before the count below, whose N - 1 would overflow for the lowest N.
    if (N < 1) return Word;
    int32_t Count = 0;
    for (char Byte : Text) {
        if (Byte == Separator)
            ++Count;
        else if (Count == N - 1)
            Word += Byte;
        if (Count == N) break;
    }
    return Word;
}

int32_t NthPos(const std::string& Text, char Separator, int32_t N) {
    const auto Length = static_cast<int32_t>(Text.size());
    if (Length == 0) return 1;
    int32_t Count = 0;
    int32_t I = 1;
    // The count is tested only after a byte was looked at, so N = 0 stops after the first byte unless
    // that byte is a separator.
    do {
        if (Text[static_cast<size_t>(I - 1)] == Separator) ++Count;
        ++I;
    } while (Count != N && I != Length + 1);
    return Count == N ? I - 1 : Length + 1;
}

void StreamLn(TStream& Stream, const std::string& Text) {
    std::string Line = Text + "\r\n";
    Stream.WriteBuffer(Line.data(), static_cast<int64_t>(Line.size()));
}
