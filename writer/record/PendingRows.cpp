#include "PendingRows.h"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
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
// Another run holds the lock only for a few rows' updates.
constexpr qint64 LockWaitMs = 30'000;

QString SystemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// The lock on PATH.lock, held while the object lives. Waited for a while at most, and not at
// all once stop() says so: a run stopped or hung while holding it must not hold this one.
class Lock {
public:
    Lock(const QString& path, const std::function<bool()>& stop) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        const QString lockPath = path + QStringLiteral(".lock");
        fd_ = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0664);
        if (fd_ < 0) {
            error_ = SystemError();
            return;
        }
        QElapsedTimer waited;
        waited.start();
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                Fail(SystemError());
                return;
            }
            if ((stop && stop()) || waited.elapsed() > LockWaitMs) {
                Fail(lockPath + QStringLiteral(" is held by another run"));
                return;
            }
            const timespec pause{0, 20'000'000};
            ::nanosleep(&pause, nullptr);  // a signal ends it early, and stop() is asked again
        }
    }
    ~Lock() {
        if (fd_ >= 0) ::close(fd_);
    }
    const QString& Error() const { return error_; }

private:
    void Fail(const QString& why) {
        ::close(fd_);
        fd_ = -1;
        error_ = why;
    }
    int fd_ = -1;
    QString error_;
};

}  // namespace

bool PendingRows::Add(const QJsonObject& row, QString* error) const {
    // Not stopped by a signal: the row's end would be lost.
    const Lock lock(path_, {});
    if (!lock.Error().isEmpty()) {
        *error = lock.Error();
        return false;
    }
    return AppendToWriteLog(path_, QJsonDocument(row).toJson(QJsonDocument::Compact) + '\n', error);
}

PendingRows::Outcome PendingRows::Update(
    const std::function<QString(const QJsonObject&)>& update,
    const std::function<bool()>& stop) const {
    Outcome outcome;
    if (!QFileInfo::exists(path_)) return outcome;
    const Lock lock(path_, stop);
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
