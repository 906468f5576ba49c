#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace pellux {

// What the reader hands on: a datagram as it arrived, or, where lost is not zero, the news
// that the kernel dropped that many before the next one could be queued.
struct Arrival {
    qint64 microseconds = 0;  // since the epoch, stamped by the kernel on arrival
    QByteArray sender;        // "192.168.10.200:10001", "[fe80::1%eth0]:10001"
    QByteArray payload;
    quint64 lost = 0;
};

}  // namespace pellux
