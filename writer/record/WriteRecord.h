#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>

#include "write/WriteJob.h"
#include "write/WriteRecorder.h"

namespace morven {

// What one write did, as a line of the write log: enough to answer "what went into board X,
// when, through which adapter, and did it succeed?".
struct WriteRecord {
    QDateTime time;  // UTC, when the write started
    QString program;
    QString version;
    QString port;           // as the user named it: COM1, /dev/ttyUSB0, serial:A50285BI
    QString device;         // the path opened, or the URL of a port on another machine
    QString adapterSerial;  // where the system reports one
    QString usbId;          // vendor:product, for USB adapters
    QString file;           // the firmware file as named; "standard input" for "-"
    QString format;         // "S-record", "Intel HEX", "ELF", "binary"
    qint64 fileSize = 0;
    qint32 length = 0;       // N, the image bytes sent
    QByteArray sha256;       // of those N bytes
    QString unitNumber;      // the value patched into this board's image; empty without one
    bool unitNumberGap = false;  // the value was taken, and the write did not end "O.K."
    QString outcome;         // the message's text
    int status = 0;          // OutcomeStatus, or the canceller's
    double seconds = 0;      // from opening the port to the outcome
    QString unitNumberRow;   // why the value's row in the line's database was not updated
    QString recipeSigner;    // who signed the recipe that approved the image; empty when none
};

struct WriteResult;

// The record of a write of job; program and version are the application's.
WriteRecord RecordOfWrite(const WriteJob& job, const WriteResult& result);

// One JSON object on one line, ending in a line feed.
QByteArray JsonLine(const WriteRecord& record);

// $XDG_STATE_HOME/morven/writes.jsonl, by default ~/.local/state/morven/writes.jsonl.
QString DefaultWriteLogPath();

// Appends line on a descriptor opened for appending, in one write(2) where the system takes it
// whole, so that several writers at once neither lose nor interleave lines; then to the disk,
// so that a power cut keeps it. Makes the folder when missing. On failure, false and the reason.
bool AppendToWriteLog(const QString& path, const QByteArray& line, QString* error);

// The write log of a run: every write appended the moment it ends. A log that cannot be written
// never stops a write: warn is told once, and the writes go on unrecorded.
class WriteLog : public WriteRecorder {
public:
    WriteLog(QString path, std::function<void(const QString&)> warn);

    // The record's row in the line's issue log is updated first, by update, which says why
    // when it could not: the record then says so too.
    void UpdateRowsWith(std::function<QString(const WriteRecord&)> update);
    void Append(const WriteRecord& record);
    void Record(const WriteJob& job, const WriteResult& result) override {
        Append(RecordOfWrite(job, result));
    }
    const QString& Path() const { return path_; }

private:
    QString path_;
    std::function<void(const QString&)> warn_;
    std::function<QString(const WriteRecord&)> updateRow_;
    bool working_ = true;
};

}  // namespace morven
