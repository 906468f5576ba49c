#include "UnitNumberStateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstring>

#include "UnitNumberStateFile.h"

namespace morven {

namespace {

// A state is a few short lines; the issue log is read only to explain a changed list.
constexpr qint64 StateFileLimit = 4096;
constexpr qint64 IssueLogLimit = qint64(64) << 20;

QString Unusable(const QString& path, const QString& why) {
    return QStringLiteral("the serial state ") + path + QStringLiteral(" ") + why +
           QStringLiteral(
               ", and is never read as a new start: restore it from a backup (every value "
               "handed out is in ") +
           UnitNumberStateFile::IssueLogPath(path) + QStringLiteral(")");
}

}  // namespace

UnitNumberStateFiles::UnitNumberStateFiles(const QString& statePath)
    : owned_(true),
      folderPath_(QFileInfo(statePath).absolutePath()),
      name_(QFileInfo(statePath).fileName()) {
    folder_ =
        ::open(QFile::encodeName(folderPath_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    missing_ = folder_ < 0 && errno == ENOENT;
    if (folder_ < 0) error_ = QString::fromLocal8Bit(std::strerror(errno));
}

UnitNumberStateFiles::UnitNumberStateFiles(const QString& statePath, int folderFd)
    : folder_(folderFd),
      folderPath_(QFileInfo(statePath).absolutePath()),
      name_(QFileInfo(statePath).fileName()) {}

UnitNumberStateFiles::~UnitNumberStateFiles() {
    if (owned_ && folder_ >= 0) ::close(folder_);
}

QString UnitNumberStateFiles::IssueLogReached() const {
    return QStringLiteral("/proc/self/fd/%1/").arg(folder_) + name_ + QStringLiteral(".issued");
}

void UnitNumberStateFiles::MakeIssueLogShared() const {
    const int fd =
        ::openat(folder_, QFile::encodeName(name_ + QStringLiteral(".issued")).constData(),
                 O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return;  // there already; or the append says why not
    struct stat status {};
    if (::fstat(fd, &status) == 0) ::fchmod(fd, (status.st_mode & 07777) | S_IRGRP | S_IWGRP);
    ::close(fd);
}

int UnitNumberStateFiles::OpenToRead(const QString& suffix) const {
    if (folder_ < 0) {
        errno = ENOENT;
        return -1;
    }
    return ::openat(folder_, QFile::encodeName(name_ + suffix).constData(), O_RDONLY | O_CLOEXEC);
}

std::variant<std::optional<UnitNumberState>, QString> UnitNumberStateFiles::ReadState() const {
    const QString path = folderPath_ + QLatin1Char('/') + name_;
    const int fd = OpenToRead(QString());
    if (fd < 0) {
        if (errno == ENOENT) return std::optional<UnitNumberState>();
        return Unusable(path, QStringLiteral("cannot be read (") +
                                  QString::fromLocal8Bit(std::strerror(errno)) +
                                  QStringLiteral(")"));
    }
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const QByteArray text = file.read(StateFileLimit + 1);
    if (file.error() != QFileDevice::NoError)
        return Unusable(
            path, QStringLiteral("cannot be read (") + file.errorString() + QStringLiteral(")"));
    if (text.trimmed().isEmpty()) return Unusable(path, QStringLiteral("is empty"));
    if (text.size() > StateFileLimit)
        return Unusable(path, QStringLiteral("is garbled (too long)"));
    auto state = UnitNumberState::Parse(text);
    if (const auto* why = std::get_if<QString>(&state))
        return Unusable(path, QStringLiteral("is garbled (") + *why + QStringLiteral(")"));
    return std::optional(std::get<UnitNumberState>(state));
}

bool UnitNumberStateFiles::IssueLogHoldsValues() const {
    const int fd = OpenToRead(QStringLiteral(".issued"));
    // One that cannot be read may hold values too: only one that is not there holds none.
    if (fd < 0) return errno != ENOENT;
    QFile log;
    log.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    // Anything but blank space is a trace of a value, even a line a full disk cut short.
    for (QByteArray block = log.read(4096); !block.isEmpty(); block = log.read(4096))
        if (!block.trimmed().isEmpty()) return true;
    return log.error() != QFileDevice::NoError;
}

QHash<qint64, QString> UnitNumberStateFiles::IssuedFromList() const {
    QHash<qint64, QString> issued;
    const int fd = OpenToRead(QStringLiteral(".issued"));
    if (fd < 0) return issued;
    QFile log;
    log.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    for (const QByteArray& line : log.read(IssueLogLimit).split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (entry.contains(QLatin1String("list_position")))
            issued.insert(entry.value(QLatin1String("list_position")).toInteger(),
                          entry.value(QLatin1String("value")).toString());
    }
    return issued;
}

}  // namespace morven
