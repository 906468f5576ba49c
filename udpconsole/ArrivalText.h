#pragma once

#include <QByteArray>
#include <QString>

#include "Arrival.h"

namespace pellux {

// ISO 8601 in UTC to the millisecond: "2026-12-08T14:29:39.123Z".
QByteArray ArrivalTime(qint64 microseconds);

// "12 datagrams lost before they could be read", with %1 for the number; translated in the
// window's context, and in English in the log.
const char* LostWords(quint64 lost);
QString LostText(quint64 lost);

// "12 datagrams not logged: the log fell behind", likewise.
const char* UnloggedWords(quint64 unlogged);
QString UnloggedText(quint64 unlogged);

// One line of the log, ending in a line feed: time, sender, and the datagram as "text" (Shift-JIS
// decoded to UTF-8, with backslash, CR and LF written \\, \r and \n so that a datagram stays one
// line) or as "hex" when it does not decode to printable text; or time, "-" and "lost" with
// the words above.
QByteArray LogLine(const Arrival& arrival);
// The log's line where datagrams are missing from it: time, "-" and "unlogged" with the words of
// UnloggedText.
QByteArray UnloggedLine(qint64 microseconds, quint64 unlogged);

}  // namespace pellux
