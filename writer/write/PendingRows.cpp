#include "PendingRows.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <cerrno>
#include <cstring>

#include "DurableFile.h"
#include "WriteRecord.h"

namespace morven {

namespace {

// A pending file holds a few rows: far less than this.
constexpr qint64 PendingLimit = qint64(16) << 20;

QString SystemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// The lock on PATH.lock, held while the object lives.
class Lock {
public:
    explicit Lock(const QString& path) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        fd_ = ::open(QFile::encodeName(path + QStringLiteral(".lock")).constData(),
                     O_RDWR | O_CREAT | O_CLOEXEC, 0664);
        while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            ::close(fd_);
            fd_ = -1;
        }
        if (fd_ < 0) error_ = SystemError();
    }
    ~Lock() {
        if (fd_ >= 0) ::close(fd_);
    }
    const QString& Error() const { return error_; }

private:
    int fd_ = -1;
    QString error_;
};

}  // namespace

bool PendingRows::Add(const QJsonObject& row, QString* error) const {
    const Lock lock(path_);
    if (!lock.Error().isEmpty()) {
        *error = lock.Error();
        return false;
    }
    return AppendToWriteLog(path_, QJsonDocument(row).toJson(QJsonDocument::Compact) + '\n', error);
}

PendingRows::Outcome PendingRows::Update(
    const std::function<QString(const QJsonObject&)>& update) const {
    Outcome outcome;
    if (!QFileInfo::exists(path_)) return outcome;
    const Lock lock(path_);
    QFile file(path_);
    if (!lock.Error().isEmpty() || !file.open(QIODevice::ReadOnly)) {
        outcome.problem = lock.Error().isEmpty() ? file.errorString() : lock.Error();
        return outcome;
    }
    if (file.size() > PendingLimit) {
        outcome.problem = QStringLiteral("it is larger than 16 MiB");
        return outcome;
    }
    QByteArray kept;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.trimmed().isEmpty()) continue;
        const QJsonDocument row = QJsonDocument::fromJson(line);
        const QString problem =
            row.isObject() ? update(row.object()) : QStringLiteral("a line is not a JSON object");
        if (problem.isEmpty()) {
            ++outcome.updated;
            continue;
        }
        ++outcome.kept;
        kept += line + '\n';
        if (outcome.problem.isEmpty()) outcome.problem = problem;
    }
    if (outcome.updated == 0) return outcome;
    if (const QString error = ReplaceDurably(path_, kept); !error.isEmpty()) {
        // The rows updated stay in the file, and are sent again: the database takes the same
        // end twice.
        outcome.problem = QStringLiteral("the file cannot be rewritten: ") + error;
        outcome.kept += outcome.updated;
        outcome.updated = 0;
    }
    return outcome;
}

}  // namespace morven
