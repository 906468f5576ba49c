#pragma once

#include <QByteArray>
#include <QString>

namespace pellux {

// Text on the wire is Shift-JIS, code page 932.
QByteArray EncodeShiftJis(const QString& text);
// Each datagram on its own: bytes that do not decode show as U+FFFD, a zero byte as U+2400.
QString DecodeShiftJis(const QByteArray& bytes);

}  // namespace pellux
