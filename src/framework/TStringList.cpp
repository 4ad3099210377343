#include "TStringList.h"

#include "Exceptions.h"
#include "TextHelpers.h"

#include <algorithm>

void TStringList::CheckIndex(int Index, int Limit) const {
    if (Index < 0 || Index >= Limit)
        throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
}

const std::string& TStringList::Get(int Index) const {
    CheckIndex(Index, Count());
    return FItems[static_cast<size_t>(Index)];
}

void TStringList::Put(int Index, const std::string& Text) {
    if (FSorted) throw EListError(FrameworkTexts::SortedListError);
    CheckIndex(Index, Count());
    FItems[static_cast<size_t>(Index)] = Text;
}

int TStringList::SortedInsertPosition(const std::string& Text) const {
    auto It = std::upper_bound(FItems.begin(), FItems.end(), Text, [](const std::string& A, const std::string& B) {
        return CompareTextIgnoreCase(A, B) < 0;
    });
    return static_cast<int>(It - FItems.begin());
}

int TStringList::Add(const std::string& Text) {
    int Index = FSorted ? SortedInsertPosition(Text) : Count();
    FItems.insert(FItems.begin() + Index, Text);
    return Index;
}

void TStringList::Insert(int Index, const std::string& Text) {
    if (FSorted) throw EListError(FrameworkTexts::SortedListError);
    CheckIndex(Index, Count() + 1);
    FItems.insert(FItems.begin() + Index, Text);
}

void TStringList::Delete(int Index) {
    CheckIndex(Index, Count());
    FItems.erase(FItems.begin() + Index);
}

void TStringList::Exchange(int Index1, int Index2) {
    if (FSorted) throw EListError(FrameworkTexts::SortedListError);
    CheckIndex(Index1, Count());
    CheckIndex(Index2, Count());
    std::swap(FItems[static_cast<size_t>(Index1)], FItems[static_cast<size_t>(Index2)]);
}

int TStringList::IndexOf(const std::string& Text) const {
    for (int I = 0; I < Count(); ++I)
        if (CompareTextIgnoreCase(FItems[static_cast<size_t>(I)], Text) == 0) return I;
    return -1;
}

std::string TStringList::Text() const {
    std::string Result;
    for (const std::string& Line : FItems) {
        Result += Line;
        Result += "\r\n";
    }
    return Result;
}

void TStringList::SetSorted(bool Value) {
    if (Value == FSorted) return;
    FSorted = Value;
    if (FSorted)
        std::stable_sort(FItems.begin(), FItems.end(), [](const std::string& A, const std::string& B) {
            return CompareTextIgnoreCase(A, B) < 0;
        });
}
