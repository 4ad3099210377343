// TExStringList's name lookups against a plain model of the list: IndexOfName (unsorted: the first
// line whose name matches; sorted: any answer names a matching line), GetValue and SetValue.
#include "FuzzCheck.h"
#include "codec/TExStringList.h"
#include "framework/Exceptions.h"
#include "framework/TextHelpers.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

// Short texts from a small alphabet, so that names meet and colons and spaces turn up often.
std::string SmallText(FuzzedDataProvider& In) {
    static constexpr char Alphabet[] = "aAbB: -xX";
    std::string Text;
    const size_t Length = In.ConsumeIntegralInRange<size_t>(0, 6);
    for (size_t I = 0; I < Length; ++I) {
        if (In.ConsumeBool())
            Text += Alphabet[In.ConsumeIntegralInRange<size_t>(0, sizeof Alphabet - 2)];
        else
            Text += In.ConsumeIntegral<char>();
    }
    return Text;
}

std::optional<std::string> NamePart(const std::string& Line) {
    const size_t Colon = Line.find(':');
    if (Colon == std::string::npos) return std::nullopt;
    return Line.substr(0, Colon);
}

int ModelIndexOfName(const std::vector<std::string>& Lines, const std::string& Name) {
    for (size_t I = 0; I < Lines.size(); ++I)
        if (auto Part = NamePart(Lines[I]); Part && CompareTextIgnoreCase(*Part, Name) == 0)
            return static_cast<int>(I);
    return -1;
}

std::vector<std::string> Contents(const TExStringList& List) {
    std::vector<std::string> Lines;
    for (int I = 0; I < List.Count(); ++I) Lines.push_back(List.Get(I));
    return Lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    FuzzedDataProvider In(Data, Size);
    TExStringList List;
    const bool Sorted = In.ConsumeBool();
    List.SetSorted(Sorted);
    const size_t LineCount = In.ConsumeIntegralInRange<size_t>(0, 12);
    for (size_t I = 0; I < LineCount; ++I) List.Add(SmallText(In));

    while (In.remaining_bytes() > 0) {
        const std::vector<std::string> Before = Contents(List);
        const std::string Name = SmallText(In);
        const int Index = List.IndexOfName(Name);
        FUZZ_CHECK(Index >= -1 && Index < List.Count());
        if (!Sorted) {
            FUZZ_CHECK(Index == ModelIndexOfName(Before, Name));
        } else if (Index >= 0) {
            // Sorted, a line without a colon takes part with the empty name part.
            FUZZ_CHECK(CompareTextIgnoreCase(NamePart(Before[Index]).value_or(""), Name) == 0);
        }

        const std::string Value = List.GetValue(Name);
        if (Index < 0) {
            FUZZ_CHECK(Value.empty());
        } else {
            std::string Expected =
                Before[Index].size() > Name.size() + 1 ? Before[Index].substr(Name.size() + 1) : "";
            if (!Expected.empty() && Expected[0] == ' ') Expected.erase(0, 1);
            FUZZ_CHECK(Value == Expected);
        }

        const std::string NewValue = In.ConsumeBool() ? std::string() : SmallText(In);
        std::vector<std::string> Expected = Before;
        bool Raises = false;
        if (NewValue.empty()) {
            if (Index >= 0) Expected.erase(Expected.begin() + Index);
        } else if (Sorted) {
            Raises = true; // a sorted list refuses the replacement, and nothing changes
        } else if (Index >= 0) {
            Expected[static_cast<size_t>(Index)] = Name + ": " + NewValue;
        } else {
            Expected.push_back(Name + ": " + NewValue);
        }
        try {
            List.SetValue(Name, NewValue);
            FUZZ_CHECK(!Raises);
        } catch (const EListError&) {
            FUZZ_CHECK(Raises);
        }
        FUZZ_CHECK(Contents(List) == Expected);
        if (!Sorted && !NewValue.empty() && Name.find(':') == std::string::npos)
            FUZZ_CHECK(List.GetValue(Name) == NewValue);
    }
    return 0;
}
