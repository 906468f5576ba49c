#pragma once
// morven-cli run as a process by the tests, and what they read back.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include "SimulatedWrite.h"

struct CliRun {
    int status = -1;   // -1 when it did not exit
    int killedBy = 0;  // the signal that ended it
    QByteArray out;
    QByteArray err;
    QString LastLine() const {
        const QStringList lines = QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
        return lines.isEmpty() ? QString() : lines.last();
    }
};

inline void StartCli(QProcess& process, const QStringList& arguments) {
    process.start(QStringLiteral(MORVEN_CLI), arguments);
    QVERIFY(process.waitForStarted());
}

// Stage lines go to standard error (not a terminal here), behind the port in a gang: the image
// is on its way.
inline void WaitForImageStage(QProcess& process) {
    QByteArray seen;
    QTRY_VERIFY2((seen += process.readAllStandardError()).contains("image   "), seen);
}

inline CliRun Finish(QProcess& process, int limitMs = 15000) {
    CliRun run;
    // Already over when its end was seen while waiting for something else.
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(limitMs)) return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (process.exitStatus() == QProcess::CrashExit) run.killedBy = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

inline CliRun Cli(const QStringList& arguments, const QByteArray& input = {}, int limitMs = 15000) {
    QProcess process;
    StartCli(process, arguments);
    process.write(input);
    process.closeWriteChannel();
    return Finish(process, limitMs);
}

// A write of the board's file with its kernel through ports, recorded in the board's folder.
inline QStringList BoardArguments(const SimulatedWrite& board, const QStringList& ports) {
    QStringList arguments{"--log", board.FilePath("writes.jsonl")};
    for (const QString& port : ports) arguments << "--port" << port;
    return arguments << "--kernel" << board.kernelPath << board.sRecordPath;
}

// The simulated board's device.
inline QString Pty(SimulatedWrite& board) {
    return QString::fromStdString(board.Board().SlavePath());
}

inline QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QByteArray RandomImage(int size, quint32 seed) {
    QByteArray image(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char& c : image) c = char(random.bounded(256));
    return image;
}

inline QByteArray Received(SimulatedWrite& board) {
    const std::vector<std::uint8_t> bytes = board.Board().LastImage();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// Every line of a write log, parsed; fails the test on a line that does not parse.
inline QList<QJsonObject> LogLines(const QString& path) {
    QFile log(path);
    QList<QJsonObject> lines;
    if (!log.open(QIODevice::ReadOnly)) return lines;
    for (const QByteArray& line : log.readAll().split('\n')) {
        if (line.isEmpty()) continue;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (!document.isObject()) qWarning("not a JSON object: %s", line.constData());
        lines << document.object();
    }
    return lines;
}
