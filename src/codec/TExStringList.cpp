#include "TExStringList.h"

#include "framework/Exceptions.h"
#include "framework/TextHelpers.h"

int TExStringList::IndexOfName(const std::string& Name) const {
    if (!Sorted()) {
        for (int I = 0; I < Count(); ++I) {
            const std::string& Line = Get(I);
            const size_t Colon = Line.find(':');
            if (Colon == std::string::npos) continue;
            if (CompareTextIgnoreCase(Line.substr(0, Colon), Name) == 0) return I;
        }
        return -1;
    }
    int Lo = 0;
    int Hi = Count() - 1;
    if (Hi < Lo) return -1;
    for (;;) {
        const int I = Lo + (Hi - Lo) / 2;
        const std::string& Line = Get(I);
        // Here a line without a colon takes part in the order with an empty name part.
        const size_t Colon = Line.find(':');
        const std::string NamePart = Colon == std::string::npos ? std::string() : Line.substr(0, Colon);
        const int Order = CompareTextIgnoreCase(NamePart, Name);
        if (Order == 0) return I;
        if (Order < 0)
            Lo = I + 1;
        else
            Hi = I - 1;
        if (Hi + 1 == Lo) return -1;
    }
}

std::string TExStringList::GetValue(const std::string& Name) const {
    const int I = IndexOfName(Name);
    if (I < 0) return std::string();
    const std::string& Line = Get(I);
    const size_t Start = Name.size() + 1;
    std::string Value = Start < Line.size() ? Line.substr(Start) : std::string();
    if (!Value.empty() && Value[0] == ' ') Value.erase(0, 1);
    return Value;
}

void TExStringList::SetValue(const std::string& Name, const std::string& Value) {
    int I = IndexOfName(Name);
    if (Value.empty()) {
        if (I >= 0) Delete(I);
        return;
    }
    if (I < 0) {
        // A sorted list refuses the replacement below; refuse before adding, so that a failed call does
        // not leave an empty line behind (an empty line would end a request header early).
        if (Sorted()) throw EListError(FrameworkTexts::SortedListError);
        I = Add(std::string());
    }
    Put(I, Name + ": " + Value);
}
