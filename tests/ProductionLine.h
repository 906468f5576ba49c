#pragma once
// Boards of a production line on their own ptys, written by morven-cli as a station does.

#include <QCryptographicHash>

#include "CliRun.h"

inline QByteArray Sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// The serial_value fields of a write log's records, in order.
inline QStringList SerialValues(const QString& log) {
    QStringList values;
    for (const QJsonObject& record : LogLines(log)) values << record["serial_value"].toString();
    return values;
}

// Boards on their own ptys; the first board's folder holds the file, the kernel and the state.
struct Line {
    explicit Line(int count, const QStringList& faults = {}) {
        for (int i = 0; i < count; ++i)
            boards.push_back(std::make_unique<SimulatedWrite>(Faults(faults.value(i))));
        image = RandomImage(0x2000, 17);
        boards[0]->SetSRecords(SRecordsFor(image));
        kernel = QByteArray(64, '\x5A');
        boards[0]->SetKernel(kernel);
    }
    QString Path(const QString& name) const { return boards[0]->FilePath(name); }
    QString Pty(int i) const { return QString::fromStdString(boards[i]->Board().SlavePath()); }
    QStringList Ports(int from, int count) const {
        QStringList ports;
        for (int i = from; i < from + count; ++i) ports << "--port" << Pty(i);
        return ports;
    }
    QStringList Write(const QStringList& serial, int from = 0, int count = -1) const {
        return QStringList{"--quiet", "--log", Path("writes.jsonl"), "--kernel",
                           boards[0]->kernelPath} +
               Ports(from, count < 0 ? int(boards.size()) : count) + serial +
               QStringList{boards[0]->sRecordPath};
    }
    std::vector<std::unique_ptr<SimulatedWrite>> boards;
    QByteArray image, kernel;
};
