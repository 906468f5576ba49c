#include "WriteRecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace morven {

WriteRecord RecordOfWrite(const WriteJob& job, const QString& port, const SerialDeviceInfo& device,
                          const QDateTime& started, const QString& outcome, int status,
                          double seconds) {
    return {started,
            QCoreApplication::applicationName(),
            QCoreApplication::applicationVersion(),
            port,
            device.device,
            device.serialNumber,
            device.usbId,
            job.sRecordName,
            job.report.fileBytes,
            job.report.length,
            job.report.sha256,
            outcome,
            status,
            seconds};
}

QByteArray JsonLine(const WriteRecord& record) {
    const QJsonObject object{
        {"time", record.time.toUTC().toString(Qt::ISODateWithMs)},
        {"host", QSysInfo::machineHostName()},
        {"program", record.program},
        {"version", record.version},
        {"port", record.port},
        {"device", record.device},
        {"adapter_serial", record.adapterSerial},
        {"usb_id", record.usbId},
        {"file", record.file},
        {"file_size", record.fileSize},
        {"n", record.length},
        {"sha256", QString::fromLatin1(record.sha256.toHex())},
        {"outcome", record.outcome},
        {"status", record.status},
        {"seconds", qRound(record.seconds * 1000) / 1000.0},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QString DefaultWriteLogPath() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/morven/writes.jsonl");
}

bool AppendToWriteLog(const QString& path, const QByteArray& line, QString* error) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot make the folder %1").arg(folder);
        return false;
    }
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    bool written = fd >= 0;
    if (written) {
        ssize_t count = -1;
        do count = ::write(fd, line.constData(), static_cast<size_t>(line.size()));
        while (count < 0 && errno == EINTR);
        written = count == line.size();
    }
    if (!written) *error = QString::fromLocal8Bit(std::strerror(errno));
    if (fd >= 0) ::close(fd);
    return written;
#else
    QFile file(path);
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Append) &&
                         file.write(line) == line.size() && file.flush();
    if (!written) *error = file.errorString();
    return written;
#endif
}

}  // namespace morven
