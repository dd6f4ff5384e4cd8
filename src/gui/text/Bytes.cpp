#include "gui/text/Bytes.h"

#include <algorithm>

#include "core/text/StringTable.h"

QString FromBytes(std::string_view bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToBytes(const QString& text) {
    const bool bLatin1 =
        std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
    const QByteArray bytes = bLatin1 ? text.toLatin1() : text.toUtf8();
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

std::string CredentialBytes(const QString& text) {
    return text.toStdString();
}

QString LoadText(int id) {
    return FromBytes(LoadString(id));
}
