#pragma once
// Text from the network and the host records is kept as bytes. On screen every byte is shown as
// the character of that number (Latin-1), so any name displays without loss or failure.

#include <QString>

#include <string>
#include <string_view>

namespace quorvane {

inline QString Latin1Text(std::string_view bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::string Latin1Bytes(const QString& text) {
    const QByteArray b = text.toLatin1();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

}  // namespace quorvane
