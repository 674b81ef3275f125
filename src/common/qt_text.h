#pragma once

// Conversions at the Qt edge: the core keeps text as UTF-8 std::string, Qt as
// QString; file names keep the bytes the system gave them.
#include <QByteArray>
#include <QFile>
#include <QString>

#include <string>
#include <string_view>

namespace telvora {

inline QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToUtf8(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// A file name as the system spells it (any bytes, not only UTF-8) and back.
inline QString FileNameFromSystem(std::string_view name) {
    return QFile::decodeName(QByteArray(name.data(), static_cast<qsizetype>(name.size())));
}

inline std::string FileNameToSystem(const QString& name) {
    const QByteArray bytes = QFile::encodeName(name);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace telvora
