// A production line: recipes that approve one image and kernel, a unique value in every board,
// never handed out twice, whatever happens to the writes.
#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "ProductionLine.h"
#include "line/InterruptSignals.h"
#include "line/StationRun.h"
#include "record/WriteRecord.h"

namespace {

// A counter's state as a run leaves it, and a list's after its first taken values.
QByteArray CounterState(const QByteArray& format, const QByteArray& next) {
    return "address 0x5f000\nformat " + format + "\nstart 1\nstep 1\nnext " + next + "\nend\n";
}

QByteArray ListState(const QByteArray& takenLines) {
    return "address 0x5f000\nformat bytes:6\nlist macs.txt\ntaken " +
           QByteArray::number(takenLines.count('\n')) + "\ntaken_sha256 " + Sha256(takenLines) +
           "\nend\n";
}

// A recipe for the first board's folder, approving its image and kernel.
QByteArray RecipeText(const QByteArray& imageSha, const QByteArray& kernelSha,
                      const QString& ports, const QByteArray& more) {
    return "[image]\nfile = program.mot\nsha256 = " + imageSha +
           "\n[kernel]\nfile = zididuv.bin\nsha256 = " + kernelSha + "\n[station]\nports = " +
           ports.toUtf8() + "\nstrict = false\nlog = writes.jsonl\n" + more;
}

// The values a state handed out, in order, as its issue log has them: taken whether or not
// their writes then succeed.
QStringList IssuedValues(const QString& statePath) {
    QStringList values;
    for (const QJsonObject& entry : LogLines(statePath + ".issued")) values << entry["value"].toString();
    return values;
}

// The program strace runs, once it has started it.
pid_t TracedChild(const QProcess& strace) {
    const QString pid = QString::number(strace.processId());
    return pid_t(Contents("/proc/" + pid + "/task/" + pid + "/children").trimmed().toLongLong());
}

}  // namespace

class TestProduction : public QObject {
    Q_OBJECT

private slots:
    // A recipe (relative paths from its own folder) approves the image and the kernel by their
    // SHA-256; anything else is refused before a port opens, naming both hashes.
    void recipes_data() {
        QTest::addColumn<QByteArray>("change");  // what differs from an approving recipe
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("approved") << QByteArray() << 0 << "O.K.";
        QTest::newRow("another image")
            << QByteArray("image") << 11 << "; the recipe approves " + QString(64, '0');
        QTest::newRow("another kernel") << QByteArray("kernel") << 11 << "The kernel file ";
        // Both named in one refusal, so that one run tells everything to fix.
        QTest::newRow("another image and another kernel")
            << QByteArray("image kernel") << 11
            << "; the recipe approves " + QString(64, '0') + ". The kernel file ";
        QTest::newRow("the kernel missing")
            << QByteArray("nokernel") << 6 << "zididuv.bin is missing, unreadable or empty";
        QTest::newRow("a key missing") << QByteArray("nokey") << 2 << "lacks image/sha256";
        QTest::newRow("a bad value") << QByteArray("badformat") << 2 << "[serial] format";
        QTest::newRow("a misspelt section")
            << QByteArray("[serials]") << 2 << "has an unknown section [serials]";
        QTest::newRow("a misspelt key")
            << QByteArray("portz") << 2 << "has an unknown key portz in [station]";
        QTest::newRow("numbers left to defaults")
            << QByteArray("nostart") << 2 << "lacks serial/start (or serial/list)";
        QTest::newRow("--no-log") << QByteArray("--no-log") << 2 << "--no-log cannot be given";
    }

    void recipes() {
        QFETCH(QByteArray, change);
        QFETCH(int, status);
        QFETCH(QString, says);
        Line line(1);
        QByteArray imageSha = change.contains("image") ? QByteArray(64, '0') : Sha256(line.image);
        QByteArray kernelSha = change.contains("kernel") ? QByteArray(64, '0') : Sha256(line.kernel);
        QByteArray recipe = RecipeText(imageSha, kernelSha, line.Pty(0),
                                       "[serial]\naddress = 0x5F000\nstate = counter\nformat = " +
                                           QByteArray(change == "badformat" ? "le:9" : "be:2") +
                                           (change == "nostart" ? "\n" : "\nstart = 1\n"));
        if (change == "nokey") recipe.replace("sha256 = " + imageSha + "\n", "");
        if (change == "[serials]") recipe.replace("[serial]", "[serials]");
        if (change == "portz") recipe.replace("ports =", "portz =");
        if (change == "nokernel") QFile::remove(line.Path("zididuv.bin"));
        SimulatedWrite::WriteFile(line.Path("station.ini"), recipe);
        const QStringList options = change == "--no-log" ? QStringList{"--no-log"} : QStringList{};
        const CliRun check = Cli(QStringList{"--check", "--recipe", line.Path("station.ini")} + options);
        const CliRun run = Cli(QStringList{"--quiet", "--recipe", line.Path("station.ini")} + options);
        QCOMPARE(run.status, status);
        QCOMPARE(check.status, status);
        QVERIFY2((status == 0 ? run.out : run.err).contains(says.toUtf8()), run.out + run.err);
        if (status == 0) {
            QVERIFY2(check.out.contains("verdict:   ready"), check.out);
            QVERIFY2(check.out.contains("next value 1, 65535 left (no state yet"), check.out);
            QByteArray expected = line.image + QByteArray(0x5F000 - line.image.size(), '\xFF');
            QVERIFY(Received(*line.boards[0]) == expected + QByteArray("\x00\x01", 2));
            QVERIFY2(Cli({"--check", "--recipe", line.Path("station.ini")})
                         .out.contains("next value 2, 65534 left\n"),
                     "the check after the write");
            return;
        }
        QVERIFY2(check.err.contains(says.toUtf8()) || check.out.contains(says.toUtf8()),
                 check.out + check.err);
        // A station that is not ready says so last, whatever stopped it.
        if (status != 2)
            QVERIFY2(check.LastLine().startsWith("verdict:   not ready"), check.out + check.err);
        QVERIFY(line.boards[0]->HostBytes().isEmpty());
        QVERIFY(!QFile::exists(line.Path("counter")));
        if (status == 11) QVERIFY2(run.err.contains("has SHA-256 "), run.err);
    }

    // A gang of four gets four consecutive values, each at its address in its format; each
    // board's image, N, checksum and SHA-256 are its own.
    void gangOfFourGetsConsecutiveValues_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QList<QByteArray>>("expected");
        QTest::newRow("little-endian")
            << "le:4"
            << QList<QByteArray>{
                   QByteArray("\xFE\x00\x00\x00", 4), QByteArray("\xFF\x00\x00\x00", 4),
                   QByteArray("\x00\x01\x00\x00", 4), QByteArray("\x01\x01\x00\x00", 4)};
        QTest::newRow("big-endian")
            << "be:3"
            << QList<QByteArray>{QByteArray("\x00\x00\xFE", 3), QByteArray("\x00\x00\xFF", 3),
                                 QByteArray("\x00\x01\x00", 3), QByteArray("\x00\x01\x01", 3)};
        QTest::newRow("ASCII decimal")
            << "dec:5" << QList<QByteArray>{"00254", "00255", "00256", "00257"};
        QTest::newRow("ASCII hex") << "hex:4" << QList<QByteArray>{"00FE", "00FF", "0100", "0101"};
    }

    void gangOfFourGetsConsecutiveValues() {
        QFETCH(QString, format);
        QFETCH(QList<QByteArray>, expected);
        Line line(4);
        const CliRun run =
            Cli(line.Write({"--serial-at", "0x3000", "--serial-format", format, "--serial-start",
                            "254", "--serial-state", line.Path("counter")}));
        QCOMPARE(run.status, 0);
        QSet<QByteArray> shas;
        for (int i = 0; i < 4; ++i) {
            // Beyond the file's last byte: N grows to the value's end, with erased flash between.
            const QByteArray image = line.image + QByteArray(0x1000, '\xFF') + expected[i];
            QVERIFY2(Received(*line.boards[i]) == image, qPrintable(format));
            shas << Sha256(image);
        }
        QSet<QByteArray> recorded;
        for (const QJsonObject& record : LogLines(line.Path("writes.jsonl")))
            recorded << record["sha256"].toString().toLatin1();
        QCOMPARE(recorded, shas);
        QVERIFY2(Contents(line.Path("counter")).contains("\nnext 258\n"),
                 Contents(line.Path("counter")));
        // Each value on record with its port, before the writes began.
        QStringList issued;
        for (const QJsonObject& entry : LogLines(line.Path("counter.issued")))
            issued << entry["value"].toString() + " " + entry["port"].toString();
        QCOMPARE(issued, (QStringList{"254 " + line.Pty(0), "255 " + line.Pty(1),
                                      "256 " + line.Pty(2), "257 " + line.Pty(3)}));
    }

    // Two processes (gangs of two) on one counter at once never share a value; a process
    // killed mid-write leaves a gap, and the next takes the value after it.
    void noValueHandedOutTwice() {
        Line line(5, {"", "", "", "", "kernel-byte:2=silent"});
        const QStringList serial{"--serial-at", "0x3000", "--serial-state", line.Path("counter")};
        QProcess first, second;
        StartCli(first, line.Write(serial, 0, 2));
        StartCli(second, line.Write(serial, 2, 2));
        for (QProcess* gang : {&first, &second}) {
            const CliRun run = Finish(*gang);
            QVERIFY2(run.status == 0, run.out + run.err);
        }
        QSet<QString> values;
        for (const QJsonObject& record : LogLines(line.Path("writes.jsonl")))
            values << record["serial_value"].toString();
        QCOMPARE(values, (QSet<QString>{"1", "2", "3", "4"}));

        QProcess killed;
        StartCli(killed, line.Write(serial, 4, 1));
        QTRY_VERIFY(Contents(line.Path("counter")).contains("\nnext 6\n"));
        ::kill(pid_t(killed.processId()), SIGKILL);
        QCOMPARE(Finish(killed).killedBy, SIGKILL);
        const CliRun next = Cli(line.Write(serial, 0, 1));
        QCOMPARE(next.status, 0);
        QCOMPARE(LogLines(line.Path("writes.jsonl")).last()["serial_value"].toString(), "6");
    }

    // The check says what the write would: fewer values than the recipe's ports is not ready.
    void checkCountsValuesForEveryPort() {
        Line line(2);
        SimulatedWrite::WriteFile(
            line.Path("station.ini"),
            RecipeText(Sha256(line.image), Sha256(line.kernel), line.Pty(0) + ", " + line.Pty(1),
                       "[serial]\naddress = 0x5F000\nformat = le:1\nstart = 255\nstate = counter\n"));
        const CliRun check = Cli({"--check", "--recipe", line.Path("station.ini")});
        QCOMPARE(check.status, 11);
        QVERIFY2(check.out.contains("next value 255, only 1 left for 2 boards"), check.out);
    }

    // Whatever stands in the way of a value is refused before any port opens (11), takes
    // nothing and leaves the state as it was: no list or counter is ever read as a new start.
    void refusedBeforeAnyPortOpens_data() {
        QTest::addColumn<QStringList>("serial");
        QTest::addColumn<QByteArray>("state");  // null: none yet
        QTest::addColumn<QString>("says");
        const QStringList list{"--serial-list", "macs.txt", "--serial-format", "bytes:6"};
        QTest::newRow("list used up")
            << list << ListState("00:1A:2B:00:00:01\n00:1A:2B:00:00:02\n")
            << "is used up: 1 of its 3 values left, 2 needed";
        QTest::newRow("list holding a value twice")
            << QStringList{"--serial-list", "twice.txt", "--serial-format", "bytes:6"}
            << QByteArray() << "holds one value twice: line 1 (\"00:1A:2B:00:00:01\") and line 3";
        QTest::newRow("counter run out")
            << QStringList{"--serial-format", "le:1", "--serial-start", "255"} << QByteArray()
            << "has run out: 2 values needed, 1 left (next value 255)";
        QTest::newRow("64-bit counter after its last value")
            << QStringList{"--serial-format", "le:8"} << CounterState("le:8", "none")
            << "has run out: 2 values needed, 0 left (its last value is handed out)";
        QTest::newRow("data in the serial area")
            << QStringList{"--serial-at", "0x0FFE"} << QByteArray()
            << "the file holds data in the serial area";
        QTest::newRow("empty state") << QStringList{} << QByteArray("") << "counter is empty";
        QTest::newRow("garbled state")
            << QStringList{} << QByteArray("10000006\n") << "counter is garbled";
        QTest::newRow("next past its format")
            << QStringList{"--serial-format", "le:1"} << CounterState("le:1", "300")
            << "counter is garbled (next does not fit the format)";
        QTest::newRow("state in an unwritable folder")
            << QStringList{"--serial-state", "/proc/self/counter"} << QByteArray()
            << "the lock /proc/self/counter.lock cannot be taken";
        QTest::newRow("another start")
            << QStringList{"--serial-start", "50000001"} << CounterState("le:4", "5")
            << "counter was started for address 0x5f000, format le:4, start 1, step 1 (next "
               "value 5), not for address 0x5f000, format le:4, start 50000001, step 1. It is "
               "never continued under another rule: a new product needs a state of its own";
        QTest::newRow("another format")
            << QStringList{"--serial-format", "le:1"} << CounterState("le:4", "5")
            << "not for address 0x5f000, format le:1, start 1";
    }

    void refusedBeforeAnyPortOpens() {
        QFETCH(QStringList, serial);
        QFETCH(QByteArray, state);
        QFETCH(QString, says);
        Line line(2);
        SimulatedWrite::WriteFile(line.Path("macs.txt"),
                                  "00:1A:2B:00:00:01\n00:1A:2B:00:00:02\n00:1A:2B:00:00:03\n");
        SimulatedWrite::WriteFile(line.Path("twice.txt"),
                                  "00:1A:2B:00:00:01\n# spare\n00-1a-2b-00-00-01\n");
        const QString statePath = line.Path("counter");
        if (!state.isNull()) SimulatedWrite::WriteFile(statePath, state);
        QStringList arguments = serial;
        if (!arguments.contains("--serial-at")) arguments << "--serial-at" << "0x5F000";
        if (!arguments.contains("--serial-state")) arguments << "--serial-state" << statePath;
        for (const char* name : {"macs.txt", "twice.txt"})
            arguments.replaceInStrings(QRegularExpression("^" + QString(name) + "$"),
                                       line.Path(name));
        const CliRun run = Cli(line.Write(arguments));
        QCOMPARE(run.status, 11);
        QVERIFY2(run.err.contains(says.toUtf8()), run.err);
        for (const auto& board : line.boards) QVERIFY(board->HostBytes().isEmpty());
        QCOMPARE(Contents(statePath), state);
        QVERIFY(!QFile::exists(statePath + ".issued"));
    }

    // A list is known by the values taken from it: appended to, it goes on; replaced under the
    // same name, it is refused, naming the first line that differs from what was handed out.
    void listKnownByItsContent_data() {
        QTest::addColumn<QByteArray>("next");  // the list's content for the second run
        QTest::addColumn<QString>("says");     // empty: written
        const QByteArray first = "00:1A:2B:3C:5E:01\n00:1A:2B:3C:5E:02\n";
        QTest::newRow("appended") << first + "# batch 2\n00:1A:2B:3C:5E:03\n" << QString();
        QTest::newRow("replaced")
            << QByteArray("00:1A:2B:3C:5E:01\n00:1A:2B:3C:5E:03\n00:1A:2B:3C:5E:04\n")
            << "its line 2 reads \"00:1A:2B:3C:5E:03\" where \"00:1A:2B:3C:5E:02\" was handed out";
    }

    void listKnownByItsContent() {
        QFETCH(QByteArray, next);
        QFETCH(QString, says);
        Line line(2);
        SimulatedWrite::WriteFile(line.Path("macs.txt"), "00:1A:2B:3C:5E:01\n00:1A:2B:3C:5E:02\n");
        const QStringList serial{"--serial-at",     "0x5F000",           "--serial-format",
                                 "bytes:6",         "--serial-list",     line.Path("macs.txt"),
                                 "--serial-state",  line.Path("macs.state")};
        QVERIFY(Cli(line.Write(serial, 0, 2)).status != 11);
        SimulatedWrite::WriteFile(line.Path("macs.txt"), next);
        const QByteArray state = Contents(line.Path("macs.state"));
        const CliRun run = Cli(line.Write(serial, 0, 1));
        QCOMPARE(run.status == 11, !says.isEmpty());
        QVERIFY2(run.err.contains(says.toUtf8()), run.err);
        const QStringList expected{"00:1A:2B:3C:5E:01", "00:1A:2B:3C:5E:02", "00:1A:2B:3C:5E:03"};
        QCOMPARE(IssuedValues(line.Path("macs.state")),
                 says.isEmpty() ? expected : expected.mid(0, 2));
        if (!says.isEmpty()) QCOMPARE(Contents(line.Path("macs.state")), state);
    }

    // The last value a 64-bit counter holds is handed out once; the refusal after it is above.
    void lastValueHandedOutOnce() {
        Line line(2);
        SimulatedWrite::WriteFile(line.Path("counter"), CounterState("le:8", "18446744073709551614"));
        const CliRun run = Cli(line.Write({"--serial-at", "0x5F000", "--serial-format", "le:8",
                                           "--serial-state", line.Path("counter")}));
        QVERIFY2(run.status != 11, run.err);
        QCOMPARE(IssuedValues(line.Path("counter")),
                 (QStringList{"18446744073709551614", "18446744073709551615"}));
        QVERIFY(Contents(line.Path("counter")).endsWith("\nnext none\nend\n"));
    }

    // One run at a time holds the values: another waits for the lock, sending nothing, until
    // it is let go; a signal ends the wait, taking nothing.
    void waitsForTheLock_data() {
        QTest::addColumn<int>("signal");  // 0: the lock is let go
        QTest::newRow("let go") << 0;
        QTest::newRow("SIGTERM while waiting") << SIGTERM;
    }

    void waitsForTheLock() {
        QFETCH(int, signal);
        Line line(1);
        const QString state = line.Path("counter");
        const int holder = ::open(qPrintable(state + ".lock"), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
        QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX) == 0);
        QProcess waiting;
        StartCli(waiting, line.Write({"--serial-at", "0x5F000", "--serial-state", state}));
        QByteArray seen;
        QTRY_VERIFY2_WITH_TIMEOUT((seen += waiting.readAllStandardError()).contains("waiting for " + state.toUtf8() + ".lock"),
                                  seen, 15000);
        QCOMPARE(waiting.state(), QProcess::Running);
        QVERIFY(line.boards[0]->HostBytes().isEmpty());
        QVERIFY(!QFile::exists(state));
        // A signal ends the wait while the lock is still held.
        if (signal != 0) ::kill(pid_t(waiting.processId()), signal);
        if (signal != 0) QVERIFY(waiting.waitForFinished(15000));
        ::close(holder);
        const CliRun run = Finish(waiting);
        QCOMPARE(run.killedBy, signal);
        QCOMPARE(run.status, signal == 0 ? 0 : -1);
        QCOMPARE(QFile::exists(state), signal == 0);
        QCOMPARE(line.boards[0]->HostBytes().isEmpty(), signal != 0);
    }

    // A run killed after its values were taken, while its port opens, leaves no write record:
    // the issue log shows the value, its port and its run, and the next run goes on after it.
    void killedAfterTakingValues() {
        Line line(1);
        QTcpServer silent;  // a network port whose server never answers: opening never ends
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        const QString url = QString("rfc2217://127.0.0.1:%1").arg(silent.serverPort());
        const QString state = line.Path("counter");
        const QStringList serial{"--serial-at", "0x5F000", "--serial-state", state};
        QProcess killed;
        StartCli(killed, QStringList{"--quiet", "--log", line.Path("writes.jsonl"), "--kernel",
                                     line.boards[0]->kernelPath, "--port", url} +
                             serial + QStringList{line.boards[0]->sRecordPath});
        QSignalSpy connected(&silent, &QTcpServer::newConnection);
        QVERIFY(connected.wait(15000));
        ::kill(pid_t(killed.processId()), SIGKILL);
        QCOMPARE(Finish(killed).killedBy, SIGKILL);
        QVERIFY(LogLines(line.Path("writes.jsonl")).isEmpty());
        const QList<QJsonObject> issued = LogLines(state + ".issued");
        QCOMPARE(issued.size(), 1);
        QCOMPARE(issued[0]["value"].toString(), "1");
        QCOMPARE(issued[0]["port"].toString(), url);
        QVERIFY(issued[0]["command"].toString().contains(url));
        QVERIFY(!issued[0]["user"].toString().isEmpty());

        QCOMPARE(Cli(line.Write(serial)).status, 0);
        QCOMPARE(SerialValues(line.Path("writes.jsonl")), QStringList{"2"});
    }

    // A signal while the values are taken (here: the issue log's sync held back) ends the run
    // by the signal, and each value taken has its record, interrupted and a gap: the boards
    // are not sent a byte.
    void signalDuringTheTake_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void signalDuringTheTake() {
        QFETCH(int, signal);
        Line line(2);
        const QString state = line.Path("counter");
        QProcess strace;
        // A leak check cannot trace a process that strace traces: off in a sanitizer build.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":detect_leaks=0");
        strace.setProcessEnvironment(environment);
        strace.start("strace",
                     QStringList{"-qq", "-o", "/dev/null", "-e", "signal=none", "-P",
                                 state + ".issued", "-e", "trace=fdatasync", "-e",
                                 "inject=fdatasync:delay_enter=2500000:when=1", MORVEN_CLI} +
                         line.Write({"--serial-at", "0x5F000", "--serial-state", state}));
        QVERIFY(strace.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(IssuedValues(state).size(), 2, 15000);
        const pid_t cli = TracedChild(strace);
        QVERIFY(cli > 0);
        ::kill(cli, signal);
        QVERIFY(strace.waitForFinished(15000));
        // strace ends as its program did: by the signal.
        QCOMPARE(strace.exitStatus(), QProcess::CrashExit);
        QVERIFY2(strace.exitCode() == signal, strace.readAllStandardError());
        const QList<QJsonObject> records = LogLines(line.Path("writes.jsonl"));
        QCOMPARE(SerialValues(line.Path("writes.jsonl")), IssuedValues(state));
        for (const QJsonObject& record : records) {
            QCOMPARE(record["status"].toInt(), 128 + signal);
            QCOMPARE(record["outcome"].toString(), "interrupted");
            QCOMPARE(record["serial_gap"].toBool(), true);
        }
        for (const auto& board : line.boards) QVERIFY(board->HostBytes().isEmpty());
    }

    // The window's gang: a signal that came while the values were taken has not reached the
    // event loop when the gang begins. Every board ends at once, on record as interrupted with
    // the signal's status, its value a gap, and no port is opened.
    void signalBeforeTheGangBegins() {
        Line line(2);
        auto prepared = morven::PrepareWrite({line.boards[0]->sRecordPath, std::nullopt},
                                             line.boards[0]->kernelPath, [] { return false; });
        QVERIFY(std::holds_alternative<morven::WriteJob>(prepared));
        const morven::WriteJob& job = std::get<morven::WriteJob>(prepared);
        const QList<morven::ChosenPort> ports{{line.Pty(0), 0, line.Pty(0)},
                                              {line.Pty(1), 0, line.Pty(1)}};
        std::vector<morven::BoardImage> images;
        for (const char* value : {"\x07", "\x08"})
            images.emplace_back(job, 0x5F000, QByteArray(value), QString::number(value[0]));
        morven::WriteLog log(line.Path("writes.jsonl"), [](const QString&) {});
        const morven::InterruptSignals interrupts([] {});
        QCOMPARE(::raise(SIGTERM), 0);
        morven::ProgressDisplay* const displays[] = {&line.boards[0]->progress,
                                                     &line.boards[1]->progress};
        morven::StationRun run(job, ports, std::move(images), displays, &log);
        const QList<morven::WriteResult> results = run.Run();
        QCoreApplication::processEvents();  // the signal told of, as the window's loop does
        QCOMPARE(results.size(), 2);
        QCOMPARE(SerialValues(line.Path("writes.jsonl")), (QStringList{"7", "8"}));
        for (const QJsonObject& record : LogLines(line.Path("writes.jsonl"))) {
            QCOMPARE(record["status"].toInt(), 128 + SIGTERM);
            QCOMPARE(record["serial_gap"].toBool(), true);
        }
        for (const auto& board : line.boards) QVERIFY(board->HostBytes().isEmpty());
    }

    // A recipe's absent port is skipped as the station's window skips it: no value is taken
    // for it, the table says it is absent, the others are written, and the status says that
    // not every port was; with every port absent, nothing is taken.
    void absentPortSkipped_data() {
        QTest::addColumn<QStringList>("ports");  // "board1", "board2", or an absent port
        QTest::addColumn<int>("status");
        const QString missing = "/nonexistent/ttyUSB9";
        QTest::newRow("a device missing") << QStringList{"board1", missing, "board2"} << 12;
        QTest::newRow("an adapter unplugged")
            << QStringList{"serial:MORVEN-NONE", "board1", "board2"} << 12;
        QTest::newRow("every port absent") << QStringList{missing, "serial:MORVEN-NONE"} << 9;
    }

    void absentPortSkipped() {
        QFETCH(QStringList, ports);
        QFETCH(int, status);
        Line line(2);
        QStringList named = ports, present;
        named.replaceInStrings("board1", line.Pty(0)).replaceInStrings("board2", line.Pty(1));
        for (const QString& port : named)
            if (port == line.Pty(0) || port == line.Pty(1)) present << port;
        SimulatedWrite::WriteFile(
            line.Path("station.ini"),
            RecipeText(Sha256(line.image), Sha256(line.kernel), named.join(", "),
                       "[serial]\naddress = 0x5F000\nformat = dec:8\nstart = 10000001\n"
                       "state = counter\n"));
        const CliRun run = Cli({"--quiet", "--recipe", line.Path("station.ini")});
        QVERIFY2(run.status == status, run.out + run.err);
        QStringList issued, written;
        for (const QJsonObject& entry : LogLines(line.Path("counter.issued")))
            issued << entry["port"].toString();
        for (const QJsonObject& record : LogLines(line.Path("writes.jsonl")))
            if (record["status"].toInt() == 0) written << record["port"].toString();
        QCOMPARE(issued, present);
        written.sort();
        present.sort();
        QVERIFY2(written == present, Contents(line.Path("writes.jsonl")));
        // Said on standard error; and in the table among the ports written, on its own row.
        QStringList rows;
        for (const QByteArray& row : run.out.split('\n')) rows << QString::fromUtf8(row);
        for (const QString& port : named) {
            if (present.contains(port)) continue;
            QVERIFY2(run.err.contains(port.toUtf8() + ": absent: "), run.err);
            if (present.isEmpty()) continue;
            const QStringList row =
                rows.filter(QRegularExpression("^" + QRegularExpression::escape(port) + " "));
            QVERIFY2(row.size() == 1 && row[0].contains("  absent: "), run.out);
        }
    }

    // A log a full disk cut inside a line goes on with a line of its own: the next value
    // handed out, and its write, are on record whole.
    void logsCutInsideALineGoOn() {
        Line line(1);
        const QString state = line.Path("counter");
        SimulatedWrite::WriteFile(state, CounterState("le:4", "1"));
        SimulatedWrite::WriteFile(state + ".issued", "{\"value\":\"0\",\"po");
        SimulatedWrite::WriteFile(line.Path("writes.jsonl"), "{\"serial_value\":\"0\",\"po");
        QCOMPARE(Cli(line.Write({"--serial-at", "0x5F000", "--serial-state", state})).status, 0);
        QCOMPARE(IssuedValues(state).last(), "1");
        QCOMPARE(SerialValues(line.Path("writes.jsonl")).last(), "1");
    }

    // A state deleted while its issue log holds the values it handed out never starts again:
    // refused (11), naming both files, taking nothing.
    void deletedStateNeverStartsAgain_data() {
        QTest::addColumn<QStringList>("serial");
        QTest::newRow("counter") << QStringList{};
        QTest::newRow("list") << QStringList{"--serial-list", "macs.txt", "--serial-format", "bytes:6"};
    }

    void deletedStateNeverStartsAgain() {
        QFETCH(QStringList, serial);
        Line line(1);
        SimulatedWrite::WriteFile(line.Path("macs.txt"), "00:1A:2B:00:00:01\n00:1A:2B:00:00:02\n");
        const QString state = line.Path("state");
        serial.replaceInStrings(QRegularExpression("^macs.txt$"), line.Path("macs.txt"));
        serial << "--serial-at" << "0x5F000" << "--serial-state" << state;
        QCOMPARE(Cli(line.Write(serial)).status, 0);
        const QByteArray issued = Contents(state + ".issued");
        QVERIFY(QFile::remove(state));
        const CliRun run = Cli(line.Write(serial));
        QCOMPARE(run.status, 11);
        QVERIFY2(run.err.contains("the serial state " + state.toUtf8() + " does not exist, and its issue log " +
                                  state.toUtf8() + ".issued holds the values handed out from it"),
                 run.err);
        QCOMPARE(Contents(state + ".issued"), issued);
        QVERIFY(!QFile::exists(state));
        QCOMPARE(SerialValues(line.Path("writes.jsonl")).size(), 1);
    }

    // The lock deleted while a run holds it (its issue log's sync slowed), as an operator told
    // that a run waits might: a second run started then never takes a value at the same time.
    void deletedLockSharesNoValue() {
        Line line(2);
        const QString state = line.Path("counter");
        const QStringList serial{"--serial-at", "0x5F000", "--serial-state", state};
        QProcess slowed;
        // A leak check cannot trace a process that strace traces: off in a sanitizer build.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":detect_leaks=0");
        slowed.setProcessEnvironment(environment);
        slowed.start("strace", QStringList{"-f", "-qq", "-o", "/dev/null", "-e", "trace=fdatasync",
                                           "-e", "inject=fdatasync:delay_enter=4000000:when=1",
                                           MORVEN_CLI} +
                                   line.Write(serial, 0, 1));
        QVERIFY2(slowed.waitForStarted(), "strace (tools/install-deps.sh installs it)");
        const auto held = [lock = QFile::encodeName(state + ".lock")] {
            const int fd = ::open(lock.constData(), O_RDONLY | O_CLOEXEC);
            const bool taken = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
            if (fd >= 0) ::close(fd);
            return taken;
        };
        QTRY_VERIFY_WITH_TIMEOUT(held(), 15000);
        QVERIFY(QFile::remove(state + ".lock"));
        const CliRun second = Cli(line.Write(serial, 1, 1));
        QVERIFY2(second.status == 0, second.err);
        QCOMPARE(Finish(slowed).status, 0);
        QStringList values = IssuedValues(state);
        values.sort();
        QCOMPARE(values, (QStringList{"1", "2"}));
        QVERIFY(Contents(state).contains("\nnext 3\n"));
    }
};

QTEST_GUILESS_MAIN(TestProduction)
#include "tst_production.moc"
