#pragma once
// Controls that keep their content in memory, for the tests and the headless runner.
#include "app/Controls.h"
#include "framework/TStringList.h"

#include <string>
#include <utility>
#include <vector>

class TMemoryEdit : public TEdit {
public:
    explicit TMemoryEdit(std::string Initial = {}) : FText(std::move(Initial)) {}
    std::string Text() const override { return FText; }
    void SetText(const std::string& Value) override { FText = Value; }

private:
    std::string FText;
};

// One entry per line, every entry counted; an index outside the list raises EListError.
class TMemoryMemo : public TMemo {
public:
    TMemoryMemo() = default;
    explicit TMemoryMemo(std::vector<std::string> Lines) { SetLines(std::move(Lines)); }

    int LineCount() const override { return FLines.Count(); }
    std::string Line(int Index) const override { return FLines.Get(Index); }
    void SetLine(int Index, const std::string& Value) override { FLines.Put(Index, Value); }
    void DeleteLine(int Index) override { FLines.Delete(Index); }
    void AppendLine(const std::string& Value) override { FLines.Add(Value); }
    void Clear() override { FLines.Clear(); }

    std::vector<std::string> Lines() const override;
    void SetLines(std::vector<std::string> Lines) override;

private:
    TStringList FLines;
};

class TMemoryStatusBar : public TStatusBar {
public:
    std::string SimpleText() const override { return FText; }
    void SetSimpleText(const std::string& Value) override { FText = Value; }

private:
    std::string FText;
};
