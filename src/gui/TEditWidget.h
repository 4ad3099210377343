#pragma once
// A one-line text field: the logic's Shift-JIS texts on a QLineEdit.
#include "app/Controls.h"

#include <QLineEdit>

class TEditWidget : public QLineEdit, public TEdit {
    Q_OBJECT

public:
    explicit TEditWidget(QWidget* Parent = nullptr);

    std::string Text() const override;
    void SetText(const std::string& Value) override;
};
