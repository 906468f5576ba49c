#include "DurableFile.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace morven {

namespace {

QString Reason(const QString& what) {
    return what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

}  // namespace

qsizetype WriteWhole(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t count =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (count > 0)
            done += count;
        else if (count == 0 || errno != EINTR)
            break;
    }
    return done;
}

QString ReplaceDurablyIn(int folderFd, const QString& folder, const QString& name,
                         const QByteArray& bytes) {
    const QString temporary = folder + QLatin1Char('/') + name + QStringLiteral(".new");
    const QByteArray newName = QFile::encodeName(name + QStringLiteral(".new"));
    const int fd = ::openat(folderFd, newName.constData(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return Reason(QStringLiteral("cannot make ") + temporary);
    const bool written = WriteWhole(fd, bytes) == bytes.size() && ::fsync(fd) == 0;
    const QString error = written ? QString() : Reason(QStringLiteral("cannot write ") + temporary);
    if (::close(fd) != 0 && written) return Reason(QStringLiteral("cannot write ") + temporary);
    if (!error.isEmpty()) return error;
    if (::renameat(folderFd, newName.constData(), folderFd, QFile::encodeName(name).constData()) !=
        0)
        return Reason(QStringLiteral("cannot rename ") + temporary);
    // The rename is on the disk only once the folder is.
    return ::fsync(folderFd) == 0 ? QString()
                                  : Reason(QStringLiteral("cannot sync the folder ") + folder);
}

QString ReplaceDurably(const QString& path, const QByteArray& bytes) {
    const QFileInfo file(path);
    const QString folder = file.absolutePath();
    const int folderFd = ::open(QFile::encodeName(folder).constData(),
                                O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) return Reason(QStringLiteral("cannot open the folder ") + folder);
    const QString error = ReplaceDurablyIn(folderFd, folder, file.fileName(), bytes);
    ::close(folderFd);
    return error;
}

}  // namespace morven
