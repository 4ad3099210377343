#pragma once
// Where the logic's Shift-JIS bytes meet Qt's Unicode: the only two conversions of the window.
#include <QString>

#include <string>

QString FromSjis(const std::string& Sjis);
std::string ToSjis(const QString& Text);
