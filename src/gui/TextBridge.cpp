#include "gui/TextBridge.h"

#include "platform/System.h"

QString FromSjis(const std::string& Sjis) {
    const std::string Utf8 = platform::SjisToUtf8(Sjis);
    return QString::fromUtf8(Utf8.data(), static_cast<qsizetype>(Utf8.size()));
}

std::string ToSjis(const QString& Text) {
    const QByteArray Utf8 = Text.toUtf8();
    return platform::Utf8ToSjis(std::string(Utf8.constData(), static_cast<size_t>(Utf8.size())));
}
