#pragma once
// Debian's ser2net on 127.0.0.1, serving simulated boards' ptys over RFC 2217, as an exporter
// in a lab does; and a proxy that delays every byte, as a long network does.

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

// A free TCP port on 127.0.0.1, for a server started next.
inline quint16 FreeLoopbackPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) qFatal("no free port on 127.0.0.1");
    return probe.serverPort();
}

// Whether something listens on 127.0.0.1:port, read from /proc/net/tcp: connecting to ask
// would open the board's line.
inline bool Listening(quint16 port) {
    QFile table("/proc/net/tcp");
    if (!table.open(QIODevice::ReadOnly)) return false;
    const QByteArray local =
        "0100007F:" + QByteArray::number(port, 16).rightJustified(4, '0').toUpper();
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1] == local && fields[3] == "0A") return true;
    }
    return false;
}

struct Ser2netOptions {
    bool chardelay = false;  // ser2net's default holds each reply a few character times
    bool kickOldUser = false;
};

class Ser2net {
public:
    // One telnet(rfc2217) accepter per pty.
    explicit Ser2net(const QStringList& ptys, Ser2netOptions options = {}) {
        QByteArray config;
        for (int i = 0; i < ptys.size(); ++i) {
            ports_ << FreeLoopbackPort();
            config += "connection: &board" + QByteArray::number(i) +
                      "\n  accepter: telnet(rfc2217),tcp,127.0.0.1," +
                      QByteArray::number(ports_.last()) + "\n  connector: serialdev," +
                      ptys[i].toUtf8() + ",19200n81,local\n  options:\n    chardelay: " +
                      (options.chardelay ? "true" : "false") +
                      "\n    kickolduser: " + (options.kickOldUser ? "true" : "false") + "\n";
        }
        QFile file(dir_.filePath("ser2net.yaml"));
        if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size())
            qFatal("cannot write the ser2net configuration");
        file.close();
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Debian puts it in /usr/sbin, which a user's PATH may lack.
        QString program = QStandardPaths::findExecutable("ser2net");
        if (program.isEmpty()) program = QStandardPaths::findExecutable("ser2net", {"/usr/sbin"});
        process_.start(program, {"-n", "-d", "-u", "-c", file.fileName()});
        if (!process_.waitForStarted())
            qFatal("ser2net does not start: install it (tools/install-deps.sh)");
        for (const quint16 port : ports_)
            if (!QTest::qWaitFor([port] { return Listening(port); }, 5000))
                qFatal("ser2net does not listen on 127.0.0.1:%d", port);
    }
    ~Ser2net() { Kill(); }

    QString Url(int i = 0) const { return QString("rfc2217://127.0.0.1:%1").arg(ports_[i]); }
    quint16 Port(int i = 0) const { return ports_[i]; }
    // Gone at once, as a crashed or unplugged exporter is.
    void Kill() {
        process_.kill();
        process_.waitForFinished();
    }

private:
    QTemporaryDir dir_;
    QProcess process_;
    QList<quint16> ports_;
};

// Forwards one TCP connection to 127.0.0.1:target, holding every byte for oneWayMs each way:
// a round trip of twice that, in the order sent.
class DelayingProxy : public QObject {
public:
    DelayingProxy(quint16 target, int oneWayMs) : target_(target), delay_(oneWayMs) {
        if (!server_.listen(QHostAddress::LocalHost, 0)) qFatal("the proxy cannot listen");
        connect(&server_, &QTcpServer::newConnection, this, &DelayingProxy::Accept);
    }
    QString Url() const { return QString("rfc2217://127.0.0.1:%1").arg(server_.serverPort()); }
    quint16 Port() const { return server_.serverPort(); }

private:
    void Accept() {
        QTcpSocket* client = server_.nextPendingConnection();
        auto* upstream = new QTcpSocket(client);
        upstream->connectToHost(QHostAddress::LocalHost, target_);
        Forward(client, upstream);
        Forward(upstream, client);
    }
    void Forward(QTcpSocket* from, QTcpSocket* to) {
        from->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(from, &QTcpSocket::readyRead, to, [this, from, to] {
            QTimer::singleShot(delay_, Qt::PreciseTimer, to,
                               [to, bytes = from->readAll()] { to->write(bytes); });
        });
        connect(from, &QTcpSocket::disconnected, to, [this, to] {
            QTimer::singleShot(delay_, Qt::PreciseTimer, to, [to] { to->disconnectFromHost(); });
        });
    }

    QTcpServer server_;
    quint16 target_;
    int delay_;
};
