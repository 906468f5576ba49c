// Boards on other machines written there: morven-cli through Debian's OpenSSH server on
// 127.0.0.1 to the installed-style morven-cli of the build, which writes the simulated board.
#include <QCryptographicHash>
#include <QSerialPort>
#include <csignal>

#include "CliRun.h"
#include "Ser2net.h"
#include "Sshd.h"

namespace {

// The client's ssh command for the tests that follow, as a station's service account sets it.
class SshCommand {
public:
    explicit SshCommand(const QByteArray& command) { qputenv("MORVEN_SSH_COMMAND", command); }
    ~SshCommand() { qunsetenv("MORVEN_SSH_COMMAND"); }
};

}  // namespace

class TestSshWrite : public QObject {
    Q_OBJECT

private slots:
    // 0xFF everywhere and a unit number: the image as prepared here, bit for bit on the board
    // there; a record on each side, this one naming the host and the device.
    void fullWriteBitExact() {
        Sshd sshd;
        const SshCommand command(sshd.Command());
        SimulatedWrite board;
        QByteArray image(0x3000, '\xFF');
        image.replace(0x1000, 0x100, RandomImage(0x100, 3));
        board.SetSRecords(SRecordsFor(image));
        board.SetKernel(QByteArray(300, '\xFF'));
        const QString url = sshd.Url(Pty(board));
        QStringList arguments = BoardArguments(board, {url});
        arguments << "--serial-at"
                  << "0x2ff0"
                  << "--serial-format"
                  << "be:4"
                  << "--serial-state" << board.FilePath("serial.state") << "--serial-start"
                  << "0x01020304";
        const CliRun run = Cli(arguments, {}, 60000);
        QVERIFY2(run.LastLine() == "O.K.", run.out + run.err);
        QCOMPARE(run.status, 0);
        image.replace(0x2ff0, 4, QByteArray::fromHex("01020304"));
        QVERIFY(Received(board) == image);
        const QJsonObject here = LogLines(board.FilePath("writes.jsonl")).value(0);
        QCOMPARE(here["device"].toString(), url);
        QCOMPARE(here["port"].toString(), url);
        QCOMPARE(here["outcome"].toString(), QString("O.K."));
        const QJsonObject there = LogLines(sshd.RemoteLog()).value(0);
        QCOMPARE(there["device"].toString(), Pty(board));
        QCOMPARE(there["outcome"].toString(), QString("O.K."));
        QCOMPARE(there["sha256"], here["sha256"]);
        QCOMPARE(there["serial_value"], here["serial_value"]);
    }

    // One station's gang, from its recipe: a board on this machine, one behind ser2net and one
    // written through ssh, named as COM3 by MORVEN_COM3.
    void recipeGangOfLocalNetworkAndSshBoards() {
        Sshd sshd;
        const SshCommand command(sshd.Command());
        SimulatedWrite local, network, remote;
        const QByteArray image = RandomImage(0x2000, 4);
        local.SetSRecords(SRecordsFor(image));
        Ser2net server({Pty(network)});
        qputenv("MORVEN_COM3", sshd.Url(Pty(remote)).toUtf8());
        const auto sha = [](const QByteArray& bytes) {
            return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
        };
        SimulatedWrite::WriteFile(
            local.FilePath("station.ini"),
            "[image]\nfile = program.mot\nsha256 = " + sha(image) +
                "\n[kernel]\nfile = zididuv.bin\nsha256 = " + sha(Contents(local.kernelPath)) +
                "\n[station]\nports = " + Pty(local).toUtf8() + ", " + server.Url().toUtf8() +
                ", COM3\nstrict = false\nlog = writes.jsonl\n");
        const CliRun run = Cli({"--quiet", "--recipe", local.FilePath("station.ini")}, {}, 60000);
        qunsetenv("MORVEN_COM3");
        QVERIFY2(run.status == 0, run.out + run.err);
        QVERIFY(Received(local) == image);
        QVERIFY(Received(network) == image);
        QVERIFY(Received(remote) == image);
        const QList<QJsonObject> records = LogLines(local.FilePath("writes.jsonl"));
        QCOMPARE(records.size(), 3);
        for (const QJsonObject& record : records)
            if (record["port"].toString() == "COM3")
                QCOMPARE(record["device"].toString(), sshd.Url(Pty(remote)));
    }

    // Each failure said plainly, with status 9 and the URL; nothing reaches the board.
    void failures_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("says");
        QTest::newRow("no ssh") << "no ssh"
                                << "the ssh command '/nonexistent/ssh' cannot be started";
        QTest::newRow("login refused") << "stranger"
                                       << "the login to 127.0.0.1 was refused";
        QTest::newRow("nothing listens") << "closed port"
                                         << "ssh cannot reach 127.0.0.1";
        QTest::newRow("no morven-cli there") << "no morven-cli"
                                             << "there is no morven-cli on 127.0.0.1";
        QTest::newRow("morven-cli too old there")
            << "old morven-cli"
            << "morven-cli 0.9.0 on 127.0.0.1 cannot write for morven-cli " MORVEN_VERSION
               " (remote write format 1)";
        QTest::newRow("device absent") << "absent"
                                       << "Cannot open the serial port ";
        QTest::newRow("device busy") << "busy"
                                     << "busy";
    }

    void failures() {
        QFETCH(QString, how);
        QFETCH(QString, says);
        QTemporaryDir bin;
        if (how == "old morven-cli") {
            QFile old(bin.filePath("morven-cli"));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(
                "#!/bin/sh\n[ \"$1\" = --version ] && { echo 'morven-cli 0.9.0'; exit 0; }\n"
                "echo \"morven-cli: Unknown option '${1#--}'.\" >&2; exit 2\n");
            old.close();
            old.setPermissions(old.permissions() | QFile::ExeOwner);
        }
        Sshd sshd(how == "no morven-cli" || how == "old morven-cli"
                      ? bin.path()
                      : QFileInfo(MORVEN_CLI).absolutePath());
        const SshCommand command(how == "no ssh" ? "/nonexistent/ssh"
                                                 : sshd.Command(how != "stranger"));
        SimulatedWrite board;
        QString url = sshd.Url(how == "absent" ? "/dev/no-such-board" : Pty(board));
        if (how == "closed port")
            url = QString("ssh://127.0.0.1:%1%2").arg(FreeLoopbackPort()).arg(Pty(board));
        QSerialPort holder(Pty(board));
        if (how == "busy") QVERIFY(holder.open(QIODevice::ReadWrite));
        const CliRun run = Cli(BoardArguments(board, {url}), {}, 60000);
        QCOMPARE(run.status, 9);
        QVERIFY2(run.LastLine().startsWith("Cannot open the serial port " + url + ": ") &&
                     run.LastLine().contains(says),
                 qPrintable(run.LastLine()));
        QCOMPARE(board.Board().CompletedWrites(), 0);
        QVERIFY(sshd.RemoteWriters().isEmpty());
    }

    // The connection dropped mid-write (the login's server process gone): the client says so,
    // and the remote write ends with it.
    void connectionLostMidWrite() {
        Sshd sshd;
        const SshCommand command(sshd.Command());
        // The board takes its time over the first block: the write is surely under way.
        SimulatedWrite board(Faults("block:1=delay:2500"));
        board.SetSRecords(SRecordsFor(RandomImage(morven::ImageSize, 6)));
        QProcess process;
        StartCli(process, BoardArguments(board, {sshd.Url(Pty(board))}));
        WaitForImageStage(process);
        QVERIFY(!sshd.RemoteWriters().isEmpty());
        for (const qint64 session : sshd.Sessions()) ::kill(pid_t(session), SIGKILL);
        const CliRun run = Finish(process, 60000);
        QCOMPARE(run.status, 9);
        QVERIFY2(run.LastLine().contains(": the connection to 127.0.0.1 was lost during the write"),
                 qPrintable(run.LastLine()));
        QTRY_VERIFY_WITH_TIMEOUT(sshd.RemoteWriters().isEmpty(), 20000);
    }

    // SIGINT and SIGTERM end the remote write too: no remote process is left, and the remote
    // records its write as ended by the client.
    void interruptEndsTheRemoteWrite_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
    }

    void interruptEndsTheRemoteWrite() {
        QFETCH(int, signal);
        Sshd sshd;
        const SshCommand command(sshd.Command());
        SimulatedWrite board(Faults("kernel-byte:100=delay:2500"));
        board.SetKernel(QByteArray(4000, '\x5A'));
        QProcess process;
        StartCli(process, BoardArguments(board, {sshd.Url(Pty(board))}));
        QByteArray seen;  // the remote's progress, shown here
        QTRY_VERIFY_WITH_TIMEOUT((seen += process.readAllStandardError()).contains(" / 4000 bytes"),
                                 30000);
        QVERIFY(!sshd.RemoteWriters().isEmpty());
        ::kill(pid_t(process.processId()), signal);
        QCOMPARE(Finish(process, 20000).killedBy, signal);
        QTRY_VERIFY_WITH_TIMEOUT(sshd.RemoteWriters().isEmpty(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!LogLines(sshd.RemoteLog()).isEmpty(), 20000);
        QCOMPARE(LogLines(sshd.RemoteLog()).value(0)["status"].toInt(), 128 + SIGHUP);
        QCOMPARE(LogLines(board.FilePath("writes.jsonl")).value(0)["status"].toInt(), 128 + signal);
    }

    // Behind a 30 ms round trip, only the login and the transfer pay it.
    void writeThroughA30msRoundTrip() {
        Sshd sshd;
        const SshCommand command(sshd.Command());
        DelayingProxy proxy(sshd.Port(), 15);
        SimulatedWrite board;
        const QByteArray image = RandomImage(0x4000, 5);
        board.SetSRecords(SRecordsFor(image));
        QProcess process;
        StartCli(process,
                 BoardArguments(
                     board, {QString("ssh://127.0.0.1:%1%2").arg(proxy.Port()).arg(Pty(board))}));
        QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 60000);
        const CliRun run = Finish(process);
        QVERIFY2(run.LastLine() == "O.K.", run.out + run.err);
        QVERIFY(Received(board) == image);
    }
};

QTEST_GUILESS_MAIN(TestSshWrite)
#include "tst_sshwrite.moc"
