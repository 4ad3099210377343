#pragma once
// A multi-line text box seen as a list of lines: one list entry per text line, no wrapping, both scroll
// bars. A last text line that is empty is no entry, so a text ending with a line break has no empty entry
// at its end; an empty last entry is kept by a line break after it.
//
// An index outside the list reads as the empty text and changes nothing, as the platform's own boxes do:
// the user may delete lines while a run is visiting one.
//
// A line is one block of the document, so reading or replacing a line finds its block without walking
// the text, and all lines are read or replaced at once as one text. A carriage return inside a line (a
// settings line may hold one) would start a new block; it is shown as the symbol for a carriage return
// instead, and read back as the byte it was.
#include "app/Controls.h"

#include <QPlainTextEdit>

class TMemoWidget : public QPlainTextEdit, public TMemo {
    Q_OBJECT

public:
    explicit TMemoWidget(QWidget* Parent = nullptr);

    int LineCount() const override;
    std::string Line(int Index) const override;
    void SetLine(int Index, const std::string& Value) override;
    void DeleteLine(int Index) override;
    void AppendLine(const std::string& Value) override;
    void Clear() override;
    std::vector<std::string> Lines() const override;
    void SetLines(std::vector<std::string> Lines) override;

private:
    bool HasLine(int Index) const { return Index >= 0 && Index < LineCount(); }
};
