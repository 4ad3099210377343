// NthWord and NthPos against a plain split of the text, and against each other.
#include "FuzzCheck.h"
#include "net/WordHelpers.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Fields(const std::string& Text, char Separator) {
    std::vector<std::string> Result(1);
    for (char C : Text) {
        if (C == Separator)
            Result.emplace_back();
        else
            Result.back() += C;
    }
    return Result;
}

// 1-based position of the N-th separator, length + 1 when there are fewer; N = 0 stops after the first
// byte unless that byte is a separator.
int32_t ReferencePos(const std::string& Text, char Separator, int32_t N) {
    const auto Length = static_cast<int32_t>(Text.size());
    if (Length == 0) return 1;
    if (N == 0) return Text[0] == Separator ? Length + 1 : 1;
    if (N < 0) return Length + 1;
    int32_t Count = 0;
    for (int32_t I = 0; I < Length; ++I)
        if (Text[static_cast<size_t>(I)] == Separator && ++Count == N) return I + 1;
    return Length + 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    FuzzedDataProvider In(Data, Size);
    const char Separator = In.ConsumeIntegral<char>();
    const int32_t Picked = In.ConsumeIntegral<int32_t>();
    const std::string Text = In.ConsumeRemainingBytesAsString();
    const std::vector<std::string> Expected = Fields(Text, Separator);
    const auto FieldCount = static_cast<int32_t>(Expected.size());

    auto Check = [&](int32_t N) {
        const std::string Word = NthWord(Text, Separator, N);
        if (N < 1 || N > FieldCount)
            FUZZ_CHECK(Word.empty());
        else
            FUZZ_CHECK(Word == Expected[static_cast<size_t>(N - 1)]);
        FUZZ_CHECK(NthPos(Text, Separator, N) == ReferencePos(Text, Separator, N));
        // Field N lies between separator N-1 and separator N.
        if (N >= 2 && N <= FieldCount) {
            const int32_t Before = NthPos(Text, Separator, N - 1);
            const int32_t After = NthPos(Text, Separator, N);
            FUZZ_CHECK(Text.substr(static_cast<size_t>(Before), static_cast<size_t>(After - Before - 1)) ==
                       Word);
        }
    };
    for (int32_t N = -1; N <= FieldCount + 1 && N <= 64; ++N) Check(N);
    Check(Picked);
    Check(INT32_MIN);
    Check(INT32_MAX);
    return 0;
}
