#include "DatabaseWait.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace morven {

namespace {

// How long a wait lasts before it looks at stop() again.
constexpr int StopLookMs = 50;

// A lookup's result, shared by the thread that looks up and the wait that may give up on it:
// whichever ends last frees it.
struct Lookup {
    QByteArray host;
    int wake[2] = {-1, -1};  // the thread writes a byte to wake[1] when done
    std::mutex done;         // over the result
    QStringList addresses;
    QString error;
    ~Lookup() {
        for (int fd : wake)
            if (fd >= 0) ::close(fd);
    }
};

void Resolve(const std::shared_ptr<Lookup>& lookup) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int failed = ::getaddrinfo(lookup->host.constData(), nullptr, &hints, &found);
    const std::lock_guard<std::mutex> result(lookup->done);
    if (failed) {
        lookup->error = QString::fromLocal8Bit(::gai_strerror(failed));
    } else {
        for (const addrinfo* address = found; address; address = address->ai_next) {
            char text[NI_MAXHOST];
            if (::getnameinfo(address->ai_addr, address->ai_addrlen, text, sizeof text, nullptr, 0,
                              NI_NUMERICHOST) == 0 &&
                !lookup->addresses.contains(QString::fromLatin1(text)))
                lookup->addresses << QString::fromLatin1(text);
        }
        ::freeaddrinfo(found);
    }
    const char byte = 1;
    while (::write(lookup->wake[1], &byte, 1) < 0 && errno == EINTR) {
    }
}

}  // namespace

DatabaseWait WaitForDescriptor(int fd, short events, qint64 deadlineMs,
                               const std::function<bool()>& stop) {
    const QDeadlineTimer deadline(std::max<qint64>(deadlineMs, 0));
    pollfd descriptor{fd, events, 0};
    while (true) {
        if (stop && stop()) return DatabaseWait::Stopped;
        const qint64 left = deadline.remainingTime();
        if (left == 0) return DatabaseWait::TimedOut;
        const int ready = ::poll(&descriptor, 1, int(std::min<qint64>(left, StopLookMs)));
        if (ready > 0) return DatabaseWait::Ready;
        if (ready < 0 && errno != EINTR) return DatabaseWait::Ready;
    }
}

std::variant<QStringList, DatabaseWait, QString> LookUpHost(const QString& host, qint64 deadlineMs,
                                                            const std::function<bool()>& stop) {
    auto lookup = std::make_shared<Lookup>();
    lookup->host = host.toUtf8();
    if (::pipe2(lookup->wake, O_CLOEXEC) != 0)
        return QStringLiteral("no pipe for the lookup: ") +
               QString::fromLocal8Bit(std::strerror(errno));
    // Left to finish on its own when the wait gives up: getaddrinfo cannot be interrupted.
    std::thread([lookup] { Resolve(lookup); }).detach();
    const DatabaseWait wait = WaitForDescriptor(lookup->wake[0], POLLIN, deadlineMs, stop);
    if (wait != DatabaseWait::Ready) return wait;
    const std::lock_guard<std::mutex> result(lookup->done);
    if (!lookup->error.isEmpty()) return lookup->error;
    return lookup->addresses;
}

}  // namespace morven
