#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <initializer_list>

namespace morven {

// Protocol bytes written as numbers: Bytes({0xCC, 0x33}).
inline QByteArray Bytes(std::initializer_list<quint8> values) {
    QByteArray bytes;
    for (const quint8 value : values) bytes.append(static_cast<char>(value));
    return bytes;
}

}  // namespace morven
