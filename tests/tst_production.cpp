// A production line: recipes that approve one image and kernel, a unique value in every board,
// never handed out twice, whatever happens to the writes.
#include <QCryptographicHash>
#include <QDir>
#include <QSet>
#include <csignal>

#include "ProductionLine.h"

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
        QTest::newRow("a key missing") << QByteArray("nokey") << 2 << "lacks image/sha256";
        QTest::newRow("a bad value") << QByteArray("badformat") << 2 << "[serial] format";
    }

    void recipes() {
        QFETCH(QByteArray, change);
        QFETCH(int, status);
        QFETCH(QString, says);
        Line line(1);
        QByteArray imageSha = change == "image" ? QByteArray(64, '0') : Sha256(line.image);
        QByteArray kernelSha = change == "kernel" ? QByteArray(64, '0') : Sha256(line.kernel);
        QByteArray recipe =
            "[image]\nfile = program.mot\n" +
            (change == "nokey" ? QByteArray() : "sha256 = " + imageSha + "\n") +
            "[kernel]\nfile = zididuv.bin\nsha256 = " + kernelSha +
            "\n[station]\nports = " + line.Pty(0).toUtf8() +
            "\nstrict = false\nlog = writes.jsonl\n[serial]\naddress = 0x5F000\nstate = counter\n"
            "format = " +
            (change == "badformat" ? "le:9" : "be:2") + "\n";
        SimulatedWrite::WriteFile(line.Path("station.ini"), recipe);
        const CliRun check = Cli({"--check", "--recipe", line.Path("station.ini")});
        const CliRun run = Cli({"--quiet", "--recipe", line.Path("station.ini")});
        QCOMPARE(run.status, status);
        QCOMPARE(check.status, status);
        QVERIFY2((status == 0 ? run.out : run.err).contains(says.toUtf8()), run.out + run.err);
        if (status == 0) {
            QVERIFY2(check.out.contains("verdict:   ready"), check.out);
            QByteArray expected = line.image + QByteArray(0x5F000 - line.image.size(), '\xFF');
            QVERIFY(Received(*line.boards[0]) == expected + QByteArray("\x00\x01", 2));
            return;
        }
        QVERIFY(line.boards[0]->HostBytes().isEmpty());
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
        QCOMPARE(Contents(line.Path("counter")), QByteArray("258\n"));
    }

    // Two processes (gangs of two) on one counter at once never share a value; a process
    // killed mid-write leaves a gap, and the next takes the value after it.
    void noValueHandedOutTwice() {
        Line line(5, {"", "", "", "", "kernel-byte:2=silent"});
        const QStringList serial{"--serial-at", "0x3000", "--serial-state", line.Path("counter")};
        QProcess first, second;
        StartCli(first, line.Write(serial, 0, 2));
        StartCli(second, line.Write(serial, 2, 2));
        QCOMPARE(Finish(first).status, 0);
        QCOMPARE(Finish(second).status, 0);
        QSet<QString> values;
        for (const QJsonObject& record : LogLines(line.Path("writes.jsonl")))
            values << record["serial_value"].toString();
        QCOMPARE(values, (QSet<QString>{"1", "2", "3", "4"}));

        QProcess killed;
        StartCli(killed, line.Write(serial, 4, 1));
        QTRY_COMPARE(Contents(line.Path("counter")), QByteArray("6\n"));
        ::kill(pid_t(killed.processId()), SIGKILL);
        QCOMPARE(Finish(killed).killedBy, SIGKILL);
        const CliRun next = Cli(line.Write(serial, 0, 1));
        QCOMPARE(next.status, 0);
        QCOMPARE(LogLines(line.Path("writes.jsonl")).last()["serial_value"].toString(), "6");
    }

    // The end of the values, and data where they go, are refused before any port opens.
    void refusedBeforeAnyPortOpens_data() {
        QTest::addColumn<QStringList>("serial");
        QTest::addColumn<QString>("says");
        QTest::newRow("list used up")
            << QStringList{"--serial-list", "macs.txt", "--serial-format", "bytes:6"}
            << "is used up: 1 of its 3 values left, 2 needed";
        QTest::newRow("counter run out")
            << QStringList{"--serial-format", "le:1", "--serial-start", "255"}
            << "the counter has run out: 256 does not fit";
        QTest::newRow("data in the serial area")
            << QStringList{"--serial-at", "0x0FFE"} << "the file holds data in the serial area";
    }

    void refusedBeforeAnyPortOpens() {
        QFETCH(QStringList, serial);
        QFETCH(QString, says);
        Line line(2);
        SimulatedWrite::WriteFile(line.Path("macs.txt"),
                                  "00:1A:2B:00:00:01\n00:1A:2B:00:00:02\n00:1A:2B:00:00:03\n");
        SimulatedWrite::WriteFile(line.Path("serial-list-macs.txt"), "2\n");
        QStringList arguments = serial;
        if (!arguments.contains("--serial-at"))
            arguments << "--serial-at"
                      << "0x5F000";
        arguments.replaceInStrings("macs.txt", line.Path("macs.txt"));
        arguments << "--serial-state"
                  << line.Path(serial.contains("--serial-list") ? "serial-list-macs.txt"
                                                                : "counter");
        const CliRun run = Cli(line.Write(arguments));
        QCOMPARE(run.status, 11);
        QVERIFY2(run.err.contains(says.toUtf8()), run.err);
        for (const auto& board : line.boards) QVERIFY(board->HostBytes().isEmpty());
        QCOMPARE(Contents(line.Path("serial-list-macs.txt")), QByteArray("2\n"));
    }
};

QTEST_GUILESS_MAIN(TestProduction)
#include "tst_production.moc"
