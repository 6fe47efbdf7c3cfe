// Conversions between the core's byte texts and Qt strings.
#pragma once

#include <QFile>
#include <QString>
#include <string>
#include <string_view>

namespace qelda::ui {

// Titles and fixed texts are bytes: Latin-1 maps every byte to one character
// and back, so a title shown in a box and taken back unchanged keeps its bytes.
inline QString from_bytes(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}
// Characters outside Latin-1 become "?".
inline std::string to_bytes(const QString& s) {
    return s.toLatin1().toStdString();
}

// Paths (and reports that quote them) use the file system's encoding.
inline QString from_path(std::string_view s) {
    return QFile::decodeName(QByteArray(s.data(), static_cast<qsizetype>(s.size())));
}
inline std::string to_path(const QString& s) {
    return QFile::encodeName(s).toStdString();
}

}  // namespace qelda::ui
