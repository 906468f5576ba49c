#pragma once
// Debian's OpenSSH server on 127.0.0.1 with its host key, the user's key, its configuration and
// the client's in a temporary folder: nothing in ~/.ssh or /etc/ssh is read or touched. Logins
// find the build's morven-cli first on their PATH, and the remote's records in the folder.

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "Ser2net.h"

class Sshd {
public:
    // pathFirst: the folder put first on the logins' PATH (the build's morven-cli's by default).
    explicit Sshd(const QString& pathFirst = QFileInfo(MORVEN_CLI).absolutePath()) {
        Keygen("host_key");
        Keygen("user_key");
        Keygen("stranger_key");
        QFile::copy(Path("user_key.pub"), Path("authorized_keys"));
        port_ = FreeLoopbackPort();
        const QByteArray user = User();
        Write("sshd_config",
              "Port " + QByteArray::number(port_) + "\nListenAddress 127.0.0.1\nHostKey " +
                  Path("host_key") + "\nPidFile " + Path("sshd.pid") + "\nAuthorizedKeysFile " +
                  Path("authorized_keys") +
                  "\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                  "PubkeyAuthentication yes\nUsePAM no\nStrictModes no\n"
                  "PermitRootLogin yes\nAllowUsers " +
                  user + "\nSetEnv PATH=" + pathFirst.toUtf8() +
                  ":/usr/local/bin:/usr/bin:/bin XDG_STATE_HOME=" + Path("remote-state") +
                  "\nLogLevel ERROR\n");
        const QByteArray hostKey = Contents(Path("host_key.pub")).split(' ').mid(0, 2).join(' ');
        // Known by an alias: the same server behind a proxy on another port is still itself.
        Write("known_hosts", "morven-test-sshd " + hostKey + "\n");
        for (const char* which : {"user", "stranger"})
            Write(QByteArray(which) + "_config",
                  "Host *\n  User " + user + "\n  IdentityFile " +
                      Path(QByteArray(which) + "_key") +
                      "\n  IdentitiesOnly yes\n  IdentityAgent none\n  UserKnownHostsFile " +
                      Path("known_hosts") +
                      "\n  GlobalKnownHostsFile /dev/null\n  StrictHostKeyChecking yes\n"
                      "  HostKeyAlias morven-test-sshd\n"
                      "  LogLevel ERROR\n");
        // Its privilege separation folder, which a machine that never ran the service lacks.
        if (geteuid() == 0) QDir().mkpath("/run/sshd");
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start("/usr/sbin/sshd", {"-D", "-e", "-f", Path("sshd_config")});
        if (!process_.waitForStarted())
            qFatal("sshd does not start: install openssh-server (tools/install-deps.sh)");
        if (!QTest::qWaitFor(
                [this] { return Listening(port_) || process_.state() != QProcess::Running; },
                10000) ||
            !Listening(port_))
            qFatal("sshd does not listen on 127.0.0.1:%d", port_);
    }
    ~Sshd() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) process_.kill();
        process_.waitForFinished();
    }

    // MORVEN_SSH_COMMAND for a client with the user's key, or with a key sshd does not know.
    QByteArray Command(bool authorized = true) const {
        return "ssh -F " + Path(authorized ? "user_config" : "stranger_config");
    }
    QString Url(const QString& device) const {
        return QString("ssh://127.0.0.1:%1%2").arg(port_).arg(device);
    }
    quint16 Port() const { return port_; }
    // The remote write log, on the board's machine.
    QString RemoteLog() const { return Path("remote-state/morven/writes.jsonl"); }
    qint64 Pid() const { return process_.processId(); }

    // The logins' processes: sshd's children, each serving one connection.
    QList<qint64> Sessions() const { return Children(Pid()); }

    // morven-cli --remote-write processes started by this server's logins, found by pgrep and
    // told apart from any other by their records' folder.
    QList<qint64> RemoteWriters() const {
        QProcess pgrep;
        pgrep.start("pgrep", {"-f", "--", "morven-cli --remote-write"});
        pgrep.waitForFinished();
        QList<qint64> ours;
        for (const QByteArray& pid : pgrep.readAllStandardOutput().split('\n'))
            if (!pid.isEmpty() &&
                Contents("/proc/" + pid + "/environ").contains(Path("remote-state")))
                ours << pid.toLongLong();
        return ours;
    }

private:
    QByteArray Path(const QByteArray& name) const { return dir_.filePath(name).toUtf8(); }

    static QByteArray Contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static QByteArray User() {
        const passwd* entry = getpwuid(geteuid());
        if (!entry) qFatal("no password entry for this user");
        return entry->pw_name;
    }

    static QList<qint64> Children(qint64 parent) {
        QProcess pgrep;
        pgrep.start("pgrep", {"-P", QString::number(parent)});
        pgrep.waitForFinished();
        QList<qint64> pids;
        for (const QByteArray& pid : pgrep.readAllStandardOutput().split('\n'))
            if (!pid.isEmpty()) pids << pid.toLongLong();
        return pids;
    }

    void Keygen(const QByteArray& name) const {
        if (QProcess::execute("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", Path(name)}) !=
            0)
            qFatal("ssh-keygen failed: install openssh-client (tools/install-deps.sh)");
    }

    void Write(const QByteArray& name, const QByteArray& text) const {
        QFile file(Path(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", name.constData());
    }

    QTemporaryDir dir_;
    QProcess process_;
    quint16 port_ = 0;
};
