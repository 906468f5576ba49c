// Boards on other machines: morven-cli through Debian's ser2net (RFC 2217) on 127.0.0.1 to the
// simulated board, which sees the speed the client sets as its pty's line settings.
#include <QCryptographicHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <csignal>

#include "CliRun.h"
#include "Ser2net.h"
#include "Sshd.h"
#include "line/PortChoice.h"
#include "port/NetworkSerialPort.h"

namespace {

// A server that answers by a script, for what ser2net never does (refuse BINARY, stop at a
// speed change): each step waits until the client has sent its trigger, then answers, or closes
// the connection when the answer is empty.
class ScriptedServer : public QObject {
public:
    explicit ScriptedServer(QList<std::pair<QByteArray, QByteArray>> script)
        : script_(std::move(script)) {
        if (!server_.listen(QHostAddress::LocalHost, 0)) qFatal("the server cannot listen");
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* client = server_.nextPendingConnection();
            connect(client, &QTcpSocket::readyRead, this, [this, client] {
                heard_ += client->readAll();
                while (step_ < script_.size() && heard_.contains(script_[step_].first)) {
                    const QByteArray answer = script_[step_++].second;
                    if (answer.isEmpty()) return client->disconnectFromHost();
                    client->write(answer);
                }
            });
        });
    }
    morven::NetworkAddress Address() const { return {"127.0.0.1", server_.serverPort()}; }

private:
    QTcpServer server_;
    QList<std::pair<QByteArray, QByteArray>> script_;
    qsizetype step_ = 0;
    QByteArray heard_;
};

QByteArray Hex(const char* hex) { return QByteArray::fromHex(hex); }

QByteArray Sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

}  // namespace

class TestNetwork : public QObject {
    Q_OBJECT

private slots:
    // 0xFF everywhere: erased flash and many kernels are full of it, and telnet doubles it.
    // Every byte reaches the board at the speed it listens at: it garbles any other.
    void fullWriteBitExact() {
        SimulatedWrite board;
        QByteArray image(0x3000, '\xFF');
        image.replace(0x1000, 0x100, RandomImage(0x100, 3));
        board.SetSRecords(SRecordsFor(image));
        board.SetKernel(QByteArray(300, '\xFF'));
        Ser2net server({Pty(board)});
        const CliRun run = Cli(BoardArguments(board, {server.Url()}));
        QCOMPARE(run.LastLine(), QString("O.K."));
        QCOMPARE(run.status, 0);
        QVERIFY(Received(board) == image);
        const QByteArray slow = board.HostBytes(19200), fast = board.HostBytes(57600);
        QCOMPARE(slow.size(), 4 + 1 + 2 + 300);  // wake-up, 0x55, length, kernel
        QVERIFY(fast.startsWith("\xCC\x33\x50\x00"));
        QCOMPARE(slow.size() + fast.size(), board.HostBytes().size());
        QCOMPARE(LogLines(board.FilePath("writes.jsonl")).value(0)["device"].toString(),
                 server.Url());
    }

    // One gang, one board on this machine and one behind ser2net.
    void gangOfLocalAndNetworkBoards() {
        SimulatedWrite local, remote;
        const QByteArray image = RandomImage(0x2000, 4);
        local.SetSRecords(SRecordsFor(image));
        Ser2net server({Pty(remote)});
        const CliRun run = Cli(BoardArguments(local, {Pty(local), server.Url()}));
        QCOMPARE(run.status, 0);
        QVERIFY(Received(local) == image);
        QVERIFY(Received(remote) == image);
    }

    // A round trip longer than the protocol's 10 ms gaps: the echo of the length's low byte
    // arrives after the discard that is to drop it, and must not be taken for the echo of the
    // kernel's first byte.
    void writeThroughA30msRoundTrip() {
        SimulatedWrite board;
        const QByteArray image = RandomImage(0x1000, 5);
        board.SetSRecords(SRecordsFor(image));
        Ser2net server({Pty(board)});
        DelayingProxy proxy(server.Port(), 15);
        QProcess process;
        StartCli(process, BoardArguments(board, {proxy.Url()}));
        QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 60000);
        const CliRun run = Finish(process);
        QVERIFY2(run.LastLine() == "O.K.", run.out + run.err);
        QVERIFY(Received(board) == image);
    }

    // Each failure said plainly, fast, with status 9 and the URL; nothing reaches the board.
    void failures_data() {
        QTest::addColumn<QString>("url");  // "server" or "held": through ser2net
        QTest::addColumn<QString>("says");
        QTest::newRow("nothing listening")
            << QString("rfc2217://127.0.0.1:%1").arg(FreeLoopbackPort()) << "nothing listens there";
        QTest::newRow("host cannot be resolved") << "rfc2217://board.invalid:2000"
                                                 << "the host cannot be resolved";
        QTest::newRow("port in use by another client")
            << "held"
            << "the port is in use by another client: the server refused this one";
    }

    void failures() {
        QFETCH(QString, url);
        QFETCH(QString, says);
        SimulatedWrite board;
        Ser2net server({Pty(board)});
        QTcpSocket holder;
        if (url == "held") {
            url = server.Url();
            holder.connectToHost(QHostAddress::LocalHost, server.Port());
            QVERIFY(holder.waitForConnected());
            QVERIFY(holder.waitForReadyRead());  // the server's telnet offers: it is served
        }
        // A slow name service has a limit of its own, longer than the server's.
        const CliRun run = Cli(BoardArguments(board, {url}), {}, 60000);
        QCOMPARE(run.status, 9);
        QVERIFY2(run.LastLine().startsWith("Cannot open the serial port " + url + ": " + says),
                 qPrintable(run.LastLine()));
        QCOMPARE(board.Board().CompletedWrites(), 0);
    }

    // Each server answer the client must notice, at the open or at a speed change in flight,
    // which is no open: a server that stops there stopped during the write.
    void serverAnswers_data() {
        QTest::addColumn<QByteArray>("answer");   // to the client's speed; empty: close
        QTest::addColumn<QByteArray>("opening");  // what the server says first
        QTest::addColumn<QString>("says");        // empty: the line is set up
        const QByteArray comPort = Hex("fffd00fffb00fffd03fffb03fffd2c");
        const QByteArray boot = Hex("fffa2c6500004b00fff0");
        QTest::newRow("refuses BINARY")
            << boot << Hex("fffc00fffd2c") << "the server refuses binary transmission";
        QTest::newRow("refuses COM-PORT-OPTION")
            << boot << Hex("fffd00fffe2c") << "the server does not speak RFC 2217";
        QTest::newRow("sets another speed")
            << Hex("fffa2c650000e100fff0") << comPort << "the server set 57600 baud, not 19200";
        QTest::newRow("closes during the speed change")
            << boot << comPort << "the server closed the connection during the write";
    }

    void serverAnswers() {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, opening);
        QFETCH(QString, says);
        const QByteArray bootSpeed = Hex("fffa2c0100004b00fff0");
        ScriptedServer server(
            {{Hex("fffb2c"), opening}, {bootSpeed, answer}, {Hex("fffa2c010000e100fff0"), {}}});
        morven::NetworkSerialPort port(server.Address(), "rfc2217://scripted");
        QVERIFY(port.OpenPort());
        QTRY_VERIFY_WITH_TIMEOUT(!port.Opening(), 20000);
        if (!port.Failed()) {
            QVERIFY(port.ChangeLineSettings("57600,N,8,1"));
            QVERIFY(!port.Opening());
            QVERIFY(port.IsOpen());
            QTRY_VERIFY_WITH_TIMEOUT(port.Failed(), 20000);
        }
        QVERIFY2(port.FailureText().startsWith("rfc2217://scripted: " + says),
                 qPrintable(port.FailureText()));
    }

    void connectionLostMidWrite() {
        SimulatedWrite board;
        board.SetSRecords(SRecordsFor(RandomImage(morven::ImageSize, 6)));
        Ser2net server({Pty(board)});
        QProcess process;
        StartCli(process, BoardArguments(board, {server.Url()}));
        WaitForImageStage(process);
        server.Kill();
        const CliRun run = Finish(process);
        QCOMPARE(run.status, 9);
        QVERIFY2(run.LastLine().contains(server.Url() + ": the server closed the connection during "
                                                        "the write"),
                 qPrintable(run.LastLine()));
    }

    // SIGINT ends the write and closes the connection first: the exporter takes the next
    // client at once.
    void interruptFreesTheServer() {
        SimulatedWrite board;
        board.SetKernel(QByteArray(4000, '\x5A'));
        Ser2net server({Pty(board)});
        QProcess process;
        StartCli(process, BoardArguments(board, {server.Url()}));
        QByteArray seen;
        QTRY_VERIFY((seen += process.readAllStandardError()).contains("kernel "));
        ::kill(pid_t(process.processId()), SIGINT);
        QCOMPARE(Finish(process, 2000).killedBy, SIGINT);
        // The server takes the next client: it offers telnet options and does not say the
        // port is in use. (The board itself is left mid-write, as a real one would be.)
        QTcpSocket next;
        next.connectToHost(QHostAddress::LocalHost, server.Port());
        QVERIFY(next.waitForConnected());
        QVERIFY(next.waitForReadyRead(2000));
        QByteArray said = next.readAll();
        while (next.waitForReadyRead(300)) said += next.readAll();
        QVERIFY2(!said.contains("in use") && next.state() == QAbstractSocket::ConnectedState, said);
    }

    // A station's check reaches every port on another machine, as the write would, and is not
    // ready (9) when one does not answer: the write would use up its value. Nothing is sent
    // to the board.
    void checkReachesNetworkPorts_data() {
        QTest::addColumn<QString>("port");  // "ser2net", "sshd", "sshd, no device", or a URL
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("ser2net") << "ser2net" << 0 << ", answers";
        const QString silent = QString("rfc2217://127.0.0.1:%1").arg(FreeLoopbackPort());
        QTest::newRow("rfc2217: nothing listening")
            << silent << 9 << "not reached: " + silent + ": nothing listens there";
        QTest::newRow("sshd") << "sshd" << 0 << ", answers";
        const QString closed = QString("ssh://127.0.0.1:%1/dev/ttyUSB0").arg(FreeLoopbackPort());
        QTest::newRow("ssh: a closed port")
            << closed << 9 << "not reached: " + closed + ": ssh cannot reach 127.0.0.1";
        QTest::newRow("ssh: no device there")
            << "sshd, no device" << 9 << "127.0.0.1 says: morven-cli: no device at /dev/no-board";
        QTest::newRow("ssh: morven-cli too old there")
            << "sshd, old" << 9 << "morven-cli 0.9.0 on 127.0.0.1 cannot write for morven-cli ";
    }

    void checkReachesNetworkPorts() {
        QFETCH(QString, port);
        QFETCH(int, status);
        QFETCH(QString, says);
        SimulatedWrite board;
        const QByteArray image = RandomImage(0x1000, 7);
        board.SetSRecords(SRecordsFor(image));
        Ser2net server({Pty(board)});
        // One that answers --version, and knows no other option.
        QTemporaryDir old;
        SimulatedWrite::WriteFile(old.filePath("morven-cli"),
                                  "#!/bin/sh\n[ \"$1\" = --version ] && echo 'morven-cli 0.9.0' "
                                  "&& exit 0\necho \"morven-cli: Unknown option.\" >&2; exit 2\n");
        QVERIFY(
            QFile::setPermissions(old.filePath("morven-cli"), QFile::ExeOwner | QFile::ReadOwner));
        Sshd sshd(port == "sshd, old" ? old.path() : QFileInfo(MORVEN_CLI).absolutePath());
        qputenv("MORVEN_SSH_COMMAND", sshd.Command());
        if (port == "ser2net") port = server.Url();
        if (port == "sshd" || port == "sshd, old") port = sshd.Url(Pty(board));
        if (port == "sshd, no device") port = sshd.Url("/dev/no-board");
        SimulatedWrite::WriteFile(
            board.FilePath("station.ini"),
            "[image]\nfile = program.mot\nsha256 = " + Sha256(image) +
                "\n[kernel]\nfile = zididuv.bin\nsha256 = " + Sha256(Contents(board.kernelPath)) +
                "\n[station]\nports = " + port.toUtf8() + "\nstrict = false\n");
        const CliRun check = Cli({"--check", "--recipe", board.FilePath("station.ini")}, {}, 60000);
        qunsetenv("MORVEN_SSH_COMMAND");
        QVERIFY2(check.status == status, check.out + check.err);
        QVERIFY2(check.out.contains(says.toUtf8()), check.out);
        QVERIFY(board.HostBytes().isEmpty());
    }

    // A server that accepts and never answers keeps the check waiting, but a signal ends it at
    // once, with the connection closed, and the check dies by the signal.
    void checkEndedBySignal_data() {
        QTest::addColumn<QString>("scheme");
        QTest::newRow("rfc2217") << "rfc2217://127.0.0.1:%1";
        QTest::newRow("ssh") << "ssh://127.0.0.1:%1/dev/ttyUSB0";
    }

    void checkEndedBySignal() {
        QFETCH(QString, scheme);
        SimulatedWrite board;
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        SimulatedWrite::WriteFile(
            board.FilePath("station.ini"),
            "[image]\nfile = program.mot\nsha256 = " + QByteArray(64, '0') +
                "\n[kernel]\nfile = zididuv.bin\nsha256 = " + QByteArray(64, '0') +
                "\n[station]\nports = " + scheme.arg(silent.serverPort()).toUtf8() + "\n");
        QProcess check;
        StartCli(check, {"--check", "--recipe", board.FilePath("station.ini")});
        QVERIFY(silent.waitForNewConnection(15000));
        QTcpSocket* connection = silent.nextPendingConnection();
        ::kill(pid_t(check.processId()), SIGTERM);
        QCOMPARE(Finish(check, 2000).killedBy, SIGTERM);
        QTRY_COMPARE(connection->state(), QAbstractSocket::UnconnectedState);
    }

    // A URL that cannot name a port is a usage error, said before anything is opened or started.
    void malformedUrls_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("says");
        QTest::newRow("no port") << "rfc2217://board"
                                 << "with its port number";
        QTest::newRow("port 0") << "rfc2217://board:0"
                                << "from 1 to 65535";
        QTest::newRow("port 65536") << "rfc2217://board:65536"
                                    << "from 1 to 65535";
        QTest::newRow("empty host") << "rfc2217://:2000"
                                    << "the host is empty";
        QTest::newRow("IPv6 without brackets") << "rfc2217://::1:2000"
                                               << "goes in brackets";
        QTest::newRow("not IPv6 in brackets") << "rfc2217://[board]:2000"
                                              << "not an IPv6 address";
        QTest::newRow("ssh: no device") << "ssh://lab3"
                                        << "ssh://[USER@]HOST[:PORT]/DEVICE";
        QTest::newRow("ssh: empty host") << "ssh:///dev/ttyUSB0"
                                         << "the host is empty";
        QTest::newRow("ssh: port 0") << "ssh://lab3:0/dev/ttyUSB0"
                                     << "from 1 to 65535";
        QTest::newRow("ssh: host as an option") << "ssh://-oProxyCommand=x/dev/ttyUSB0"
                                                << "not a name or an address";
        QTest::newRow("ssh: empty user") << "ssh://@lab3/dev/ttyUSB0"
                                         << "user name";
        QTest::newRow("ssh: IPv6 without brackets") << "ssh://::1/dev/ttyUSB0"
                                                    << "goes in brackets";
    }

    void malformedUrls() {
        QFETCH(QString, url);
        QFETCH(QString, says);
        const auto parsed = morven::ParsePortArgument(url);
        QVERIFY(std::holds_alternative<QString>(parsed));
        QVERIFY2(std::get<QString>(parsed).contains(says), qPrintable(std::get<QString>(parsed)));
        const CliRun run = Cli({"--port", url, "/nonexistent/program.mot"});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(says.toUtf8()), run.err);
    }
};

QTEST_GUILESS_MAIN(TestNetwork)
#include "tst_network.moc"
