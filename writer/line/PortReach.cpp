#include "PortReach.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTimer>

#include "port/NetworkSerialPort.h"
#include "port/RemoteAddress.h"
#include "write/RemoteWriteFlow.h"

namespace morven {

namespace {

// The event loop runs until done(), stop() or the limit; false unless done() came.
bool WaitFor(const std::function<bool()>& done, const std::function<bool()>& stop) {
    const QDeadlineTimer deadline(ReachLimitMs);
    QTimer wake;  // the loop sleeps until an event: this one comes at the limit
    wake.setSingleShot(true);
    wake.start(ReachLimitMs);
    while (!done()) {
        if (stop() || deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

QString Unanswered(const QString& url, const std::function<bool()>& stop) {
    return url + (stop() ? QStringLiteral(": the check was interrupted")
                         : QStringLiteral(": no answer within %1 s").arg(ReachLimitMs / 1000));
}

QString ShellQuoted(const QString& word) {
    return QLatin1Char('\'') + QString(word).replace(u'\'', QStringLiteral("'\\''")) +
           QLatin1Char('\'');
}

QString UnreachedServer(const QString& url, const NetworkAddress& address,
                        const std::function<bool()>& stop) {
    NetworkSerialPort port(address, url);
    port.OpenPort();
    const bool answered = WaitFor([&port] { return !port.Opening(); }, stop);
    const QString failure = port.Failed() ? port.FailureText()
                            : answered    ? QString()
                                          : Unanswered(url, stop);
    port.ClosePort();
    return failure;
}

QString UnreachedRemote(const QString& url, const RemoteAddress& where,
                        const std::function<bool()>& stop) {
    QProcess ssh;
    RemoteWriteFlow::StartSsh(ssh, where,
                              QStringLiteral("--check --port ") + ShellQuoted(where.device));
    ssh.closeWriteChannel();
    if (!WaitFor([&ssh] { return ssh.state() == QProcess::NotRunning; }, stop)) {
        ssh.kill();
        ssh.waitForFinished();
        return Unanswered(url, stop);
    }
    const QByteArray said = ssh.readAllStandardOutput();
    const QByteArray errors = ssh.readAllStandardError();
    const int status = ssh.exitStatus() == QProcess::NormalExit ? ssh.exitCode() : -1;
    if (status == 0 && ssh.error() != QProcess::FailedToStart) return {};
    const qsizetype versionEnd = said.indexOf('\n');
    if (versionEnd < 0 || ssh.error() == QProcess::FailedToStart)
        return url + QStringLiteral(": ") +
               RemoteWriteFlow::NotAnsweredReason(ssh, errors, where.host);
    if (status == 2)
        return url + QStringLiteral(": ") +
               RemoteWriteFlow::TooOldReason(said.left(versionEnd), where.host);
    return url + QStringLiteral(": ") + where.host + QStringLiteral(" says: ") +
           RemoteWriteFlow::LastLine(errors);
}

}  // namespace

QString UnreachedPort(const QString& url, const std::function<bool()>& stop) {
    const auto server = NetworkAddress::Parse(url);
    if (const auto* address = std::get_if<NetworkAddress>(&server))
        return UnreachedServer(url, *address, stop);
    const auto remote = RemoteAddress::Parse(url);
    if (const auto* where = std::get_if<RemoteAddress>(&remote))
        return UnreachedRemote(url, *where, stop);
    return {};
}

}  // namespace morven
