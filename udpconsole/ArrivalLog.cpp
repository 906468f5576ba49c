#include "ArrivalLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <cerrno>
#include <cstring>

namespace pellux {

namespace {

// Said to the operator, in the locale's language.
QString Reason(const QString& path) {
    return QCoreApplication::translate("pellux::ArrivalLog", "Cannot log to \"%1\": %2")
        .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
}

}  // namespace

std::variant<std::unique_ptr<ArrivalLog>, QString> ArrivalLog::Open(const QString& path) {
    // Non-blocking: a FIFO nobody reads is refused instead of waited for, and a full one makes
    // the writer wait in poll, where the end can reach it, not in write.
    const int fd = open(QFile::encodeName(path).constData(),
                        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return Reason(path);
    bool endsInsideALine = false;
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        const QString reason = Reason(path);
        close(fd);
        return reason;
    }
    if (S_ISREG(status.st_mode) && status.st_size > 0) {
        const int readable = open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        char last = '\n';
        if (readable >= 0) {
            endsInsideALine = pread(readable, &last, 1, status.st_size - 1) == 1 && last != '\n';
            close(readable);
        }
    }
    return std::unique_ptr<ArrivalLog>(new ArrivalLog(path, fd, endsInsideALine));
}

ArrivalLog::~ArrivalLog() { close(fd_); }

QString ArrivalLog::Append(const QByteArray& lines, const std::function<bool(int)>& waitForRoom) {
    const QByteArray text = startOnNewLine_ ? '\n' + lines : lines;
    startOnNewLine_ = false;
    // One write; a short one (a full disk, a signal) is finished or reported.
    for (qsizetype done = 0; done < text.size();) {
        const ssize_t written = write(fd_, text.constData() + done, size_t(text.size() - done));
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno == EAGAIN) {
            if (!waitForRoom(fd_)) return {};
            continue;
        }
        if (written <= 0) return Reason(path_);
        done += written;
    }
    return {};
}

}  // namespace pellux
