#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include "BoardImage.h"
#include "ProgressDisplay.h"
#include "WriteFlow.h"
#include "WriteJob.h"
#include "WriteRecorder.h"
#include "port/RemoteAddress.h"
#include "port/SerialLink.h"

namespace morven {

// The write of a prepared job to a board on another machine, done there by its own morven-cli:
// ssh starts it (BatchMode: it never prompts; the user's ssh config and agent apply), the
// board's image and the kernel go over once, and the remote writes the board on its own line,
// sending back its progress and its outcome (RemoteFrames). The remote records its write; this
// side records it too, naming the host and the device. Every failure of the way there is a
// failed port (status 9) with its reason. Cancelling closes the channel: the remote ends its
// write at its current wait and exits.
class RemoteWriteFlow {
public:
    // How long the remote has to end a cancelled write before ssh is killed.
    static constexpr int CancelLimitMs = 5000;

    // link serves as the write's place among the waits of DriveLinks, and its response timer as
    // the cancel's limit; its port is never opened. log may be null.
    RemoteWriteFlow(SerialLink& link, RemoteAddress where, BoardPort board,
                    ProgressDisplay& progress, WriteRecorder* log);

    // The job and image are only read, and must outlive the task.
    Task<WriteResult> Write(const WriteJob& job, const BoardImage& image);
    // Write of the job's own image driven to its end on this thread's event loop.
    WriteResult Run(const WriteJob& job) {
        const BoardImage image(job);
        return RunToEnd(link_, Write(job, image));
    }
    void Cancel(int status, const QString& text);

    // MORVEN_SSH_COMMAND split as a shell splits words, or "ssh".
    static QStringList SshCommand();
    // Starts ssh, in a process group of its own, logging in to where and running its
    // morven-cli: "--version", then "--remote-write FORMAT" with the words remote after it.
    static void StartSsh(QProcess& ssh, const RemoteAddress& where, const QString& remote);
    // Why ssh ended before the remote morven-cli said its version: ssh cannot be started or
    // cannot reach host, the login was refused, no morven-cli there. errors: ssh's standard error.
    static QString NotAnsweredReason(const QProcess& ssh, const QByteArray& errors,
                                     const QString& host);
    // ssh's and the remote shell's last words in text.
    static QString LastLine(const QByteArray& text);
    // The remote morven-cli, which said versionLine, does not speak this one's remote format.
    static QString TooOldReason(const QByteArray& versionLine, const QString& host);

private:
    SerialLink& link_;
    RemoteAddress where_;
    BoardPort board_;
    ProgressDisplay& progress_;
    WriteRecorder* log_;
    CancelReason cancelled_;
};

}  // namespace morven
