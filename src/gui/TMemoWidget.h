#pragma once
// A multi-line text box seen as a list of lines: one list entry per text line, no wrapping, both scroll
// bars. A last text line that is empty is no entry, so a text ending with a line break has no empty entry
// at its end; an empty last entry is kept by a line break after it.
//
// An index outside the list reads as the empty text and changes nothing, as the platform's own boxes do:
// the user may delete lines while a run is visiting one.
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

private:
    bool HasLine(int Index) const { return Index >= 0 && Index < LineCount(); }
};
