// Crossing between the window's texts (QString) and the engine's (std::string): paths go to
// the system in the locale's encoding and come back from it the same way.
#pragma once

#include <QFile>
#include <QString>
#include <string>

namespace tessel::ui {

inline std::string ToSystemPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// A text the engine built; it may hold a path in the locale's encoding.
inline QString FromSystemText(const std::string& text) {
    return QFile::decodeName(QByteArray::fromStdString(text));
}

}  // namespace tessel::ui
