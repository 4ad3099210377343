#pragma once
// An ordered list of byte texts, optionally kept in case-insensitive sorted order.
#include <string>
#include <vector>

class TStringList {
public:
    TStringList() = default;
    virtual ~TStringList() = default;

    int Count() const { return static_cast<int>(FItems.size()); }
    // Index errors raise EListError.
    const std::string& Get(int Index) const;
    // Replacing a line of a sorted list raises EListError with the runtime's message.
    void Put(int Index, const std::string& Text);
    // Appends; a sorted list inserts at the line's place in the order instead. Returns the index.
    int Add(const std::string& Text);
    // Inserting by index into a sorted list raises EListError with the runtime's message.
    void Insert(int Index, const std::string& Text);
    void Delete(int Index);
    void Exchange(int Index1, int Index2);
    void Clear() { FItems.clear(); }
    // Index of the first line equal to Text (case-insensitive), -1 if none.
    int IndexOf(const std::string& Text) const;

    // Every line followed by CR LF.
    std::string Text() const;

    bool Sorted() const { return FSorted; }
    void SetSorted(bool Value);

private:
    void CheckIndex(int Index, int Limit) const;
    int SortedInsertPosition(const std::string& Text) const;

    std::vector<std::string> FItems;
    bool FSorted = false;
};
