#include "ArrivalText.h"

#include <QCoreApplication>
#include <ctime>

#include "ShiftJis.h"

namespace pellux {

namespace {

// Printable once decoded: no control character but tab and the line ends, and no byte that
// failed to decode (U+FFFD) or was a zero (U+2400).
bool IsText(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t' && u != u'\r' && u != u'\n') || u == 0x7F || u == 0xFFFD ||
            u == 0x2400)
            return false;
    }
    return true;
}

QByteArray Escaped(const QString& text) {
    QByteArray utf8 = text.toUtf8();
    if (!utf8.contains('\\') && !utf8.contains('\r') && !utf8.contains('\n')) return utf8;
    return utf8.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n");
}

}  // namespace

QByteArray ArrivalTime(qint64 microseconds) {
    const std::time_t seconds = std::time_t(microseconds / 1000000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ",
                                     utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                                     utc.tm_min, utc.tm_sec, int(microseconds % 1000000 / 1000));
    return QByteArray(text, length);
}

const char* LostWords(quint64 lost) {
    return lost == 1
               ? QT_TRANSLATE_NOOP("pellux::frmPeerA", "%1 datagram lost before it could be read")
               : QT_TRANSLATE_NOOP("pellux::frmPeerA",
                                   "%1 datagrams lost before they could be read");
}

QString LostText(quint64 lost) { return QString::fromLatin1(LostWords(lost)).arg(lost); }

const char* UnloggedWords(quint64 unlogged) {
    return unlogged == 1
               ? QT_TRANSLATE_NOOP("pellux::frmPeerA", "%1 datagram not logged: the log fell behind")
               : QT_TRANSLATE_NOOP("pellux::frmPeerA",
                                   "%1 datagrams not logged: the log fell behind");
}

QString UnloggedText(quint64 unlogged) {
    return QString::fromLatin1(UnloggedWords(unlogged)).arg(unlogged);
}

QByteArray LogLine(const Arrival& arrival) {
    QByteArray line = ArrivalTime(arrival.microseconds);
    if (arrival.lost != 0) return line + " - lost " + LostText(arrival.lost).toUtf8() + '\n';
    line += ' ' + arrival.sender;
    const QString text = DecodeShiftJis(arrival.payload);
    if (IsText(text)) return line + " text " + Escaped(text) + '\n';
    return line + " hex " + arrival.payload.toHex(' ') + '\n';
}

QByteArray UnloggedLine(qint64 microseconds, quint64 unlogged) {
    return ArrivalTime(microseconds) + " - unlogged " + UnloggedText(unlogged).toUtf8() + '\n';
}

}  // namespace pellux
