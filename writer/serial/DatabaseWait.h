#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <variant>

namespace morven {

// The waits of a database connection: each bounded by its deadline and ended at once by stop().
enum class DatabaseWait { Ready, TimedOut, Stopped };

// Until fd is ready for events (POLLIN, POLLOUT), the deadline (ms from now) passes or stop()
// says so; empty stop: only the deadline. A fault on fd counts as ready: its reader sees it.
DatabaseWait WaitForDescriptor(int fd, short events, qint64 deadlineMs,
                               const std::function<bool()>& stop);

// The addresses of host (a name or a numeric address), looked up on a thread of its own so
// that the deadline and stop() end the wait even when the name server never answers: the
// addresses, the wait's end, or the lookup's error.
std::variant<QStringList, DatabaseWait, QString> LookUpHost(const QString& host, qint64 deadlineMs,
                                                            const std::function<bool()>& stop);

}  // namespace morven
