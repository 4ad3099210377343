#pragma once
// A string list of header lines "Name: value", with access by name. Names end at the first ":" and
// compare without regard to letter case.
#include "framework/TStringList.h"

#include <string>

class TExStringList : public TStringList {
public:
    // Index of the first line whose name part equals Name, -1 if none. A sorted list is searched by
    // halving, an unsorted one line by line.
    int IndexOfName(const std::string& Name) const;
    // The text after the colon of Name's line, less one leading space; empty when there is no such line.
    std::string GetValue(const std::string& Name) const;
    // Replaces Name's first line by "Name: Value" where it stands, or appends it; an empty Value
    // deletes that line instead.
    void SetValue(const std::string& Name, const std::string& Value);
};
