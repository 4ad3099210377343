#pragma once
// A status bar with one simple text and no panels.
#include "app/Controls.h"

#include <QStatusBar>

class TStatusBarWidget : public QStatusBar, public TStatusBar {
    Q_OBJECT

public:
    explicit TStatusBarWidget(QWidget* Parent = nullptr);

    // The bytes last given, not a round trip through Unicode, so a text the code page cannot show whole
    // still reads back as it was set.
    std::string SimpleText() const override { return FText; }
    void SetSimpleText(const std::string& Value) override;

private:
    std::string FText;
};
