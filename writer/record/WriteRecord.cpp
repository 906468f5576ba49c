#include "WriteRecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include "DurableFile.h"
#include "Journal.h"
#include "write/WriteFlow.h"

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace morven {

WriteRecord RecordOfWrite(const WriteJob& job, const WriteResult& result) {
    const SerialDeviceInfo& device = result.board.device;
    return {result.started,
            QCoreApplication::applicationName(),
            QCoreApplication::applicationVersion(),
            result.board.name,
            device.device,
            device.adapterSerial,
            device.usbId,
            job.fileName,
            FormatName(job.report.format),
            job.report.fileBytes,
            result.length,
            result.sha256,
            result.unitNumber,
            !result.unitNumber.isEmpty() && result.outcome != WriteOutcome::Ok,
            result.text,
            result.status,
            result.seconds,
            {},
            job.recipeSigner};
}

QByteArray JsonLine(const WriteRecord& record) {
    QJsonObject object{
        {"time", record.time.toUTC().toString(Qt::ISODateWithMs)},
        {"host", QSysInfo::machineHostName()},
        {"program", record.program},
        {"version", record.version},
        {"port", record.port},
        {"device", record.device},
        {"adapter_serial", record.adapterSerial},
        {"usb_id", record.usbId},
        {"file", record.file},
        {"format", record.format},
        {"file_size", record.fileSize},
        {"n", record.length},
        {"sha256", QString::fromLatin1(record.sha256.toHex())},
        {"outcome", record.outcome},
        {"status", record.status},
        {"seconds", qRound(record.seconds * 1000) / 1000.0},
    };
    if (!record.recipeSigner.isEmpty()) object.insert("recipe_signer", record.recipeSigner);
    if (!record.unitNumber.isEmpty()) {
        object.insert("serial_value", record.unitNumber);
        // Never handed out again: the board did not get it, and no other board will.
        object.insert("serial_gap", record.unitNumberGap);
        if (!record.unitNumberRow.isEmpty()) object.insert("serial_row", record.unitNumberRow);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QString DefaultWriteLogPath() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/morven/writes.jsonl");
}

#ifdef Q_OS_UNIX
namespace {

// Whether the regular file behind fd ends in the middle of a line.
bool EndsInsideALine(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0)
        return false;
    // The log is opened for appending only: its last byte is read through its own descriptor.
    const int readable = ::open(QStringLiteral("/proc/self/fd/%1").arg(fd).toLatin1().constData(),
                                O_RDONLY | O_CLOEXEC);
    char last = '\n';
    if (readable >= 0) {
        if (::pread(readable, &last, 1, status.st_size - 1) != 1) last = '\n';
        ::close(readable);
    }
    return last != '\n';
}

}  // namespace
#endif

bool AppendToWriteLog(const QString& path, const QByteArray& line, QString* error) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot make the folder %1").arg(folder);
        return false;
    }
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    // A line torn by an earlier full disk would swallow this one: it starts on a line of its own.
    const QByteArray whole = fd >= 0 && EndsInsideALine(fd) ? '\n' + line : line;
    // A short write (a full disk, a signal) is finished, or its error reported: never a torn
    // line left without a word.
    const qsizetype done = fd >= 0 ? WriteWhole(fd, whole) : 0;
    // A pipe or FIFO cannot be synced (EINVAL), and needs no syncing.
    bool written = fd >= 0 && done == whole.size() && (::fdatasync(fd) == 0 || errno == EINVAL);
    if (!written)
        *error = fd >= 0 && done > 0 && done < whole.size()
                     ? QStringLiteral("only %1 of %2 bytes written: %3")
                           .arg(QString::number(done), QString::number(whole.size()),
                                QString::fromLocal8Bit(std::strerror(errno)))
                     : QString::fromLocal8Bit(std::strerror(errno));
    if (fd >= 0 && ::close(fd) != 0 && written) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        written = false;
    }
    return written;
#else
    QFile file(path);
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Append) &&
                         file.write(line) == line.size() && file.flush();
    if (!written) *error = file.errorString();
    return written;
#endif
}

WriteLog::WriteLog(QString path, std::function<void(const QString&)> warn)
    : path_(path.isEmpty() ? DefaultWriteLogPath() : std::move(path)), warn_(std::move(warn)) {}

void WriteLog::UpdateRowsWith(std::function<QString(const WriteRecord&)> update) {
    updateRow_ = std::move(update);
}

void WriteLog::Append(const WriteRecord& written) {
    WriteRecord record = written;
    if (updateRow_) {
        if (const QString why = updateRow_(record); !why.isEmpty()) {
            record.unitNumberRow = QStringLiteral("not updated: ") + why;
            warn_(record.port + QStringLiteral(": the row of serial ") + record.unitNumber +
                  QStringLiteral(" is ") + record.unitNumberRow);
        }
    }
    SendToJournal(record);
    if (!working_) return;
    QString error;
    if (AppendToWriteLog(path_, JsonLine(record), &error)) return;
    working_ = false;
    warn_(QStringLiteral("the write log ") + path_ + QStringLiteral(" cannot be written (") +
          error + QStringLiteral("); the writes go on unrecorded"));
}

}  // namespace morven
