#include "gui/TStatusBarWidget.h"

#include "gui/TextBridge.h"

TStatusBarWidget::TStatusBarWidget(QWidget* Parent) : QStatusBar(Parent) {}

void TStatusBarWidget::SetSimpleText(const std::string& Value) {
    FText = Value;
    // No time-out: the text stays until the logic replaces it.
    showMessage(FromSjis(Value));
}
