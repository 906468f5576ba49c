#include "RemoteWriteFlow.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <optional>

#include "RemoteFrames.h"

namespace morven {

namespace {

// What the remote said before it ended, kept for the failure's words.
constexpr qsizetype ErrorTextKept = 4096;
// The version line "morven-cli 1.2.0".
constexpr qsizetype VersionLineLimit = 200;
const QString ProgramName = QStringLiteral("morven-cli");

QString Quoted(const QString& text) {
    return text.isEmpty() ? QString() : QStringLiteral(" (") + text + QLatin1Char(')');
}

// What the way to the remote did, as seen from here, while it lasted.
struct Channel {
    bool versionRead = false;
    QByteArray versionLine;
    RemoteFrameReader frames;
    bool writing = false;  // the remote has begun its write
    bool unreadable = false;
    std::optional<RemoteResult> result;
    QByteArray errors;
};

// Why the write never ended with a result from the remote, in the operator's words.
QString Reason(const QProcess& ssh, const Channel& channel, const QString& host) {
    if (channel.unreadable)
        return QStringLiteral(
                   "what the remote sent cannot be read: it is not morven-cli's "
                   "answer") +
               Quoted(QString::fromUtf8(channel.versionLine.left(80)));
    const int status = ssh.exitStatus() == QProcess::NormalExit ? ssh.exitCode() : -1;
    if (!channel.versionRead || ssh.error() == QProcess::FailedToStart)
        return RemoteWriteFlow::NotAnsweredReason(ssh, channel.errors, host);
    if (!channel.writing && !channel.frames.Broken() && status == 2)
        return RemoteWriteFlow::TooOldReason(channel.versionLine, host);
    return QStringLiteral("the connection to %1 was lost %2")
               .arg(host, channel.writing ? QStringLiteral("during the write")
                                          : QStringLiteral("before the write began")) +
           Quoted(RemoteWriteFlow::LastLine(channel.errors));
}

// Takes what ssh has for us: the version line first, then frames.
void Take(QProcess& ssh, Channel& channel, ProgressDisplay& progress) {
    QByteArray bytes = ssh.readAllStandardOutput();
    channel.errors = (channel.errors + ssh.readAllStandardError()).right(ErrorTextKept);
    if (!channel.versionRead) {
        channel.versionLine += bytes;
        bytes.clear();
        const qsizetype end = channel.versionLine.indexOf('\n');
        if (end >= 0) {
            bytes = channel.versionLine.mid(end + 1);
            channel.versionLine.truncate(end);
            channel.versionRead = true;
            if (!channel.versionLine.startsWith(ProgramName.toUtf8() + ' '))
                channel.unreadable = true;
        } else if (channel.versionLine.size() > VersionLineLimit) {
            channel.unreadable = true;
        }
    }
    if (channel.unreadable) return;
    channel.frames.Add(bytes);
    while (const std::optional<RemoteFrame> frame = channel.frames.Next()) {
        if (frame->type == RemoteFrame::Type::Result) {
            channel.result = RemoteResult::From(*frame);
            if (!channel.result) channel.unreadable = true;
        } else if (ShowProgress(*frame, progress)) {
            channel.writing = true;
        } else {
            channel.unreadable = true;
        }
    }
    if (channel.frames.Broken()) channel.unreadable = true;
}

}  // namespace

RemoteWriteFlow::RemoteWriteFlow(SerialLink& link, RemoteAddress where, BoardPort board,
                                 ProgressDisplay& progress, WriteRecorder* log)
    : link_(link),
      where_(std::move(where)),
      board_(std::move(board)),
      progress_(progress),
      log_(log) {}

QStringList RemoteWriteFlow::SshCommand() {
    const QStringList words = QProcess::splitCommand(qEnvironmentVariable("MORVEN_SSH_COMMAND"));
    return words.isEmpty() ? QStringList{QStringLiteral("ssh")} : words;
}

void RemoteWriteFlow::StartSsh(QProcess& ssh, const RemoteAddress& where, const QString& remote) {
    // The user's own options come first: ssh takes the first value it is given for each.
    const QStringList options =
        QStringLiteral(
            "-T -o BatchMode=yes -o ConnectTimeout=15 -o ServerAliveInterval=5 -o "
            "ServerAliveCountMax=3")
            .split(u' ');
    const QString run = QStringLiteral("%1 --version && exec %1 --remote-write %2 %3")
                            .arg(ProgramName)
                            .arg(RemoteFormat)
                            .arg(remote)
                            .trimmed();
    const QStringList command = SshCommand() + options + where.SshArguments() + QStringList{run};
    ssh.setProgram(command.front());
    ssh.setArguments(command.mid(1));
    // In a process group of its own: a Ctrl-C at the terminal reaches this program, which ends
    // the remote's work in order, and not ssh, which would drop the connection under it.
#ifdef Q_OS_UNIX
    ssh.setChildProcessModifier([] { setpgid(0, 0); });
#endif
    ssh.start();
}

QString RemoteWriteFlow::LastLine(const QByteArray& text) {
    const QList<QByteArray> lines = text.trimmed().split('\n');
    return QString::fromUtf8(lines.isEmpty() ? QByteArray() : lines.last()).trimmed();
}

QString RemoteWriteFlow::NotAnsweredReason(const QProcess& ssh, const QByteArray& errors,
                                           const QString& host) {
    const QString said = LastLine(errors);
    if (ssh.error() == QProcess::FailedToStart)
        return QStringLiteral(
                   "the ssh command '%1' cannot be started (%2); MORVEN_SSH_COMMAND "
                   "names another")
            .arg(ssh.program(), ssh.errorString());
    const int status = ssh.exitStatus() == QProcess::NormalExit ? ssh.exitCode() : -1;
    if (status == 255 && said.contains(QStringLiteral("Permission denied")))
        return QStringLiteral("the login to %1 was refused").arg(host) + Quoted(said);
    if (status == 255) return QStringLiteral("ssh cannot reach %1").arg(host) + Quoted(said);
    if (status == 127)
        return QStringLiteral(
                   "there is no morven-cli on %1 (none on the remote user's "
                   "PATH)")
            .arg(host);
    return QStringLiteral("the remote shell on %1 ended with status %2").arg(host).arg(status) +
           Quoted(said);
}

QString RemoteWriteFlow::TooOldReason(const QByteArray& versionLine, const QString& host) {
    return QStringLiteral(
               "%1 on %2 cannot write for %3 %4 (remote write format %5): "
               "install the same version there")
        .arg(QString::fromUtf8(versionLine), host, ProgramName,
             QCoreApplication::applicationVersion())
        .arg(RemoteFormat);
}

void RemoteWriteFlow::Cancel(int status, const QString& text) {
    cancelled_.Cancel(link_, status, text);
}

Task<WriteResult> RemoteWriteFlow::Write(const WriteJob& job, const BoardImage& image) {
    WriteResult result = StartedResult(board_, image);
    QElapsedTimer clock;
    clock.start();
    const QString url = board_.device.device;
    RemoteRequest request{where_.device, job.fileName, image.UnitNumber(), {}, job.Kernel};
    image.AppendTo(request.image, 0, image.Length());

    QProcess ssh;
    StartSsh(ssh, where_, {});
    ssh.write(request.Frame().Encoded());
    request = {};

    Channel channel;
    bool closing = false;
    for (;;) {
        Take(ssh, channel, progress_);
        if (channel.unreadable && ssh.state() != QProcess::NotRunning) ssh.kill();
        // A cancelled write ends on the remote when its input ends; ssh is killed if it lingers.
        if (link_.Cancelled() && !closing) {
            closing = true;
            ssh.closeWriteChannel();
            link_.ArmTimeout(CancelLimitMs);
        }
        if (closing && link_.TimeoutFlag == 1 && ssh.state() != QProcess::NotRunning) ssh.kill();
        if (ssh.state() == QProcess::NotRunning && ssh.bytesAvailable() == 0) break;
        co_await link_.NextPass();
    }
    Take(ssh, channel, progress_);

    if (channel.result) {
        const RemoteResult& remote = *channel.result;
        result.board.device = remote.device;
        result.board.device.device = url;
        result.board.device.network = true;
        result.outcome = remote.outcome;
        result.status = remote.status;
        // The remote names its device by its path; here it is named by the URL.
        result.text = QString(remote.text).replace(where_.device, url);
    }
    if (link_.Cancelled() && (!channel.result || result.Cancelled())) {
        result.outcome = WriteOutcome::Cancelled;
        result.status = cancelled_.status;
        result.text = cancelled_.text;
    } else if (!channel.result) {
        const QString reason = Reason(ssh, channel, where_.host);
        result.outcome = channel.writing ? WriteOutcome::PortFailed : WriteOutcome::PortOpenFailed;
        result.status = OutcomeStatus(result.outcome);
        result.text = (channel.writing ? QStringLiteral("The serial port failed during the write: ")
                                       : QStringLiteral("Cannot open the serial port ")) +
                      url + QStringLiteral(": ") + reason;
    }
    result.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (log_) log_->Record(job, result);
    co_return result;
}

}  // namespace morven
