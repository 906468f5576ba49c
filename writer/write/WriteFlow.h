#pragma once

#include <QDateTime>
#include <QString>

#include "BoardImage.h"
#include "ProgressDisplay.h"
#include "WriteJob.h"
#include "WriteOutcome.h"
#include "WriteRecorder.h"
#include "port/SerialDevices.h"
#include "port/SerialLink.h"

namespace morven {

// A board as a write names it: its port as the user named it (COM1, /dev/ttyUSB0,
// serial:A50285BI), and what the system says of the device opened.
struct BoardPort {
    QString name;
    SerialDeviceInfo device;
};

// How one write ended: what every front end shows and the record keeps.
struct WriteResult {
    WriteOutcome outcome = WriteOutcome::Ok;
    QString text;  // the operator's words: "O.K.", "Err 1", ... or why it was cancelled
    int status = 0;
    QDateTime started;   // UTC, before the port was opened
    double seconds = 0;  // from then to the outcome
    BoardPort board;
    // What this board was sent: N, the SHA-256 of the N bytes, and its unit number, if any.
    std::int32_t length = 0;
    QByteArray sha256;
    QString unitNumber;

    bool Cancelled() const { return outcome == WriteOutcome::Cancelled; }
};

// A write's result as it starts: now, the board, and what the board is sent.
WriteResult StartedResult(const BoardPort& board, const BoardImage& image);

// Why a write was cancelled, as its record gives it: the first reason stands.
struct CancelReason {
    int status = 0;
    QString text;

    // Ends link's wait in progress and every later one.
    void Cancel(SerialLink& link, int why, const QString& words);
};

// The one write of a prepared job to one board, for every front end: open the port at 19200
// baud, discard waiting input, the boot-mode sequence, close the port and restore "19200,N,8,1",
// whatever the outcome; then the record, before anyone is told. Nothing is shown here.
class WriteFlow {
public:
    // log may be null: nothing is recorded.
    WriteFlow(SerialLink& link, BoardPort board, ProgressDisplay& progress, WriteRecorder* log);

    // The job and the board's image (the job's, or with the board's unit number) are only
    // read, and must outlive the task; several flows' tasks run together under DriveLinks.
    Task<WriteResult> Write(const WriteJob& job, const BoardImage& image);
    // Write of the job's own image driven to its end on this thread's event loop.
    WriteResult Run(const WriteJob& job) {
        const BoardImage image(job);
        return RunToEnd(link_, Write(job, image));
    }

    // Ends the write at its current wait; it is recorded with this status and text.
    void Cancel(int status, const QString& text);

private:
    SerialLink& link_;
    BoardPort board_;
    ProgressDisplay& progress_;
    WriteRecorder* log_;
    CancelReason cancelled_;
};

}  // namespace morven
