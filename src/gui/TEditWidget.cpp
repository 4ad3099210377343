#include "gui/TEditWidget.h"

#include "gui/TextBridge.h"

TEditWidget::TEditWidget(QWidget* Parent) : QLineEdit(Parent) {}

std::string TEditWidget::Text() const {
    return ToSjis(text());
}

void TEditWidget::SetText(const std::string& Value) {
    setText(FromSjis(Value));
}
