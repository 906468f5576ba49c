#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "SerialDevices.h"
#include "WriteJob.h"

namespace morven {

// What one write did, as a line of the write log: enough to answer "what went into board X,
// when, through which adapter, and did it succeed?".
struct WriteRecord {
    QDateTime time;  // UTC, when the write started
    QString program;
    QString version;
    QString port;           // as the user named it: COM1, /dev/ttyUSB0, serial:A50285BI
    QString device;         // the path opened
    QString adapterSerial;  // where the system reports one
    QString usbId;          // vendor:product, for USB adapters
    QString file;           // the S-record file as named; "standard input" for "-"
    qint64 fileSize = 0;
    qint32 length = 0;   // N, the image bytes sent
    QByteArray sha256;   // of those N bytes
    QString outcome;     // the message's text
    int status = 0;      // morven-cli's exit status for that outcome
    double seconds = 0;  // from opening the port to the outcome
};

// The record of a write of job through a port (named as the user named it, opening device),
// started at started, with its outcome's text and status; program and version are the
// application's.
WriteRecord RecordOfWrite(const WriteJob& job, const QString& port, const SerialDeviceInfo& device,
                          const QDateTime& started, const QString& outcome, int status,
                          double seconds);

// One JSON object on one line, ending in a line feed.
QByteArray JsonLine(const WriteRecord& record);

// $XDG_STATE_HOME/morven/writes.jsonl, by default ~/.local/state/morven/writes.jsonl.
QString DefaultWriteLogPath();

// Appends line in one write on a descriptor opened for appending, so that several writers at
// once neither lose nor interleave lines. Makes the folder when missing. On failure, false and
// the reason.
bool AppendToWriteLog(const QString& path, const QByteArray& line, QString* error);

}  // namespace morven
