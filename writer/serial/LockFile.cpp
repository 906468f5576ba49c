#include "LockFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace morven {

LockFile::LockFile(const QString& path, const TakeWait& wait, Kind kind) {
    if (kind == Kind::File) QDir().mkpath(QFileInfo(path).absolutePath());
    // Read-only is enough for flock, so a lock file made by another user serves; the mode
    // lets the folder's default ACL or the umask decide who else may make it.
    fd_ = ::open(QFile::encodeName(path).constData(),
                 kind == Kind::File ? O_RDONLY | O_CREAT | O_CLOEXEC
                                    : O_RDONLY | O_DIRECTORY | O_CLOEXEC,
                 0666);
    if (fd_ < 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    bool told = false;
    // flock(2) blocking is restarted after a signal handler: asked without blocking instead,
    // every 10 ms, so that a signal (which cuts the sleep short) ends the wait at once.
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error_ = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        if (wait.stop && wait.stop()) {
            stopped_ = true;
            return;
        }
        if (!told && wait.waiting) wait.waiting(QStringLiteral("waiting for ") + path +
                                                QStringLiteral(", which another run holds"));
        told = true;
        const timespec pause{0, 10'000'000};
        ::nanosleep(&pause, nullptr);
    }
    held_ = true;
}

LockFile::~LockFile() {
    if (fd_ >= 0) ::close(fd_);  // and the lock with it
}

}  // namespace morven
