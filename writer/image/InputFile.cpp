#include "InputFile.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#endif

namespace morven {

namespace {

constexpr int StopPollMs = 100;

InputRead Refused(QString error) { return {InputRead::Status::Unreadable, {}, std::move(error)}; }

InputRead TooLarge(qint64 limit) {
    return {InputRead::Status::TooLarge,
            {},
            QStringLiteral("it is larger than %1 MiB").arg(limit >> 20)};
}

#ifdef Q_OS_UNIX
QString SystemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// Waits in steps so that stop() is heard; no read blocks longer than one step.
InputRead ReadDescriptor(int fd, qint64 limit, qint64 expected, const std::function<bool()>& stop) {
    InputRead result;
    constexpr qsizetype Chunk = 65536;
    // A regular file is read into one buffer of its size: no copy as it grows.
    result.bytes.reserve(expected + Chunk);
    for (;;) {
        if (stop()) return {InputRead::Status::Stopped, {}, {}};
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, StopPollMs);
        if (polled < 0 && errno != EINTR) return Refused(SystemError());
        if (polled <= 0) continue;
        const qsizetype had = result.bytes.size();
        result.bytes.resize(had + Chunk);
        const ssize_t count = ::read(fd, result.bytes.data() + had, Chunk);
        result.bytes.resize(had + std::max<ssize_t>(count, 0));
        if (count == 0) return result;
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return Refused(SystemError());
        }
        if (result.bytes.size() > limit) return TooLarge(limit);
    }
}

// Only what has an end can be read whole: a regular file, a pipe, a FIFO or a socket.
InputRead ReadOpened(int fd, qint64 limit, const std::function<bool()>& stop) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return Refused(SystemError());
    if (S_ISDIR(status.st_mode)) return Refused(QStringLiteral("it is a folder"));
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
        return Refused(QStringLiteral("it is a device, not a file"));
    if (S_ISREG(status.st_mode) && status.st_size > limit) return TooLarge(limit);
    return ReadDescriptor(fd, limit, S_ISREG(status.st_mode) ? status.st_size : 0, stop);
}
#endif

}  // namespace

InputRead ReadWholeInput(const QString& path, qint64 limit, const std::function<bool()>& stop) {
#ifdef Q_OS_UNIX
    if (IsStandardInput(path)) {
        if (::isatty(STDIN_FILENO)) return {InputRead::Status::Terminal, {}, {}};
        return ReadOpened(STDIN_FILENO, limit, stop);
    }
    // Not blocking: a FIFO that nobody writes yet opens at once, and the wait for its writer
    // is the read loop's, which hears stop().
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Refused(SystemError());
    InputRead result = ReadOpened(fd, limit, stop);
    ::close(fd);
    return result;
#else
    Q_UNUSED(stop);
    QFile file(path);
    const bool opened = IsStandardInput(path) ? file.open(stdin, QIODevice::ReadOnly)
                                              : file.open(QIODevice::ReadOnly);
    if (!opened) return Refused(file.errorString());
    if (file.size() > limit) return TooLarge(limit);
    InputRead result;
    result.bytes = file.read(limit + 1);
    if (result.bytes.size() > limit) return TooLarge(limit);
    if (file.error() != QFileDevice::NoError) return Refused(file.errorString());
    return result;
#endif
}

}  // namespace morven
