#pragma once

#include <QString>
#include <string>

namespace tempikon::qt {

// UTF-8 both ways; Qt Core only, so that the windowless part can use it.
inline QString toQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string toStdString(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

}  // namespace tempikon::qt
