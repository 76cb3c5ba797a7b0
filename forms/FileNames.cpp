#include "FileNames.h"

#include <QStringDecoder>

#include <algorithm>

namespace tova {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isEscape(QChar c) {
    return c.unicode() >= kEscapeBase + 0x80 && c.unicode() <= kEscapeBase + 0xFF;
}

} // namespace

QString fileNameFromBytes(const QByteArray& bytes) {
    if (bytes.isValidUtf8()) return QString::fromUtf8(bytes);
    QString name;
    name.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        name.append(value < 0x80 ? QChar(value) : QChar(char16_t(kEscapeBase + value)));
    }
    return name;
}

QByteArray fileNameBytes(const QString& name) {
    QByteArray bytes;
    qsizetype run = 0; // where the text not yet encoded starts
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!isEscape(name.at(i))) continue;
        bytes += QStringView(name).sliced(run, i - run).toUtf8();
        bytes += char(name.at(i).unicode() - kEscapeBase);
        run = i + 1;
    }
    return bytes + QStringView(name).sliced(run).toUtf8();
}

QString displayFileName(const QString& name) {
    if (std::none_of(name.cbegin(), name.cend(), isEscape)) return name;
    const QByteArray bytes = fileNameBytes(name);
    QStringDecoder gb18030("GB18030");
    if (gb18030.isValid()) {
        const QString decoded = gb18030.decode(bytes);
        if (!gb18030.hasError()) return decoded;
    }
    return QString::fromUtf8(bytes);
}

} // namespace tova
