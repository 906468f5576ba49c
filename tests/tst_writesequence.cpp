#include <QElapsedTimer>
#include <QRandomGenerator>

#include "SimulatedWrite.h"
#include "image/TargetImage.h"

namespace {

const QString Ok = "O.K.";
const QString Err1 = "Err 1";
const QString FarmTimeout = "Time Out Farm Err";
const QString FarmWrong = "Farm Err";
const QString FlashTimeout = "Time Out S File Err";
const QString FlashWrong = "S File Err ";
const QString PortFailed = "The serial port failed during the write: COM1";
// The 10 ms between the length bytes, as the board's thread saw them arrive: its wake-up for the
// first can come late by a few milliseconds on a loaded machine. Bytes sent without the gap
// arrive well under a millisecond apart.
constexpr double LengthGapSeen = 0.006;

}  // namespace

class TestWriteSequence : public QObject {
    Q_OBJECT

private slots:
    void outcomes_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("expected");  // the message starts with this

        QTest::newRow("clean write") << "" << Ok;
        // Each phase: silent, wrong byte, answer just inside its limit, just outside, line dropped.
        struct Phase {
            const char* name;
            const char* inside;
            const char* outside;
            QString silent, wrong, late;
        };
        const Phase phases[] = {
            // Inside and outside by margins that a loaded machine's late timers keep.
            {"wakeup", "250", "900", Err1, Ok, Err1},     // any answer wakes; 51 x 10 ms
            {"confirm", "250", "900", Err1, Err1, Err1},  // 500 ms
            {"kernel-byte:2", "2000", "4000", FarmTimeout, FarmWrong, FarmTimeout},
            {"kernel-end", "2000", nullptr, Ok, FarmWrong, {}},  // silence is accepted
            {"command", "2000", "4000", FlashTimeout, FlashWrong, FlashTimeout},
            {"block:1", "2000", "4000", FlashTimeout, FlashWrong, FlashTimeout},
            {"block:2", "2000", "4000", FlashTimeout, FlashWrong,
             FlashTimeout},  // checksum request
            {"closing", "2000", "4000", FlashTimeout, FlashWrong, FlashTimeout},
        };
        for (const Phase& phase : phases) {
            const QString name = phase.name;
            QTest::addRow("%s silent", phase.name) << name + "=silent" << phase.silent;
            QTest::addRow("%s wrong", phase.name) << name + "=wrong:0x15" << phase.wrong;
            QTest::addRow("%s just inside", phase.name) << name + "=delay:" + phase.inside << Ok;
            if (phase.outside)
                QTest::addRow("%s just outside", phase.name)
                    << name + "=delay:" + phase.outside << phase.late;
            QTest::addRow("%s dropped", phase.name) << name + "=drop" << PortFailed;
        }
    }

    void outcomes() {
        QFETCH(QString, fault);
        QFETCH(QString, expected);
        SimulatedWrite write(Faults(fault));
        write.Run();
        QCOMPARE(write.messages.texts.size(), 1);
        QVERIFY2(write.messages.texts.front().startsWith(expected),
                 qPrintable(write.messages.texts.front()));
        if (expected == Ok) QCOMPARE(write.Board().CompletedWrites(), 1);
    }

    // The kernel is read whole before anything is sent.
    void kernelFileProblems_data() {
        QTest::addColumn<int>("size");  // -1: no file
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing") << -1 << "Not Found DOVIZOV.BIN";
        QTest::newRow("empty") << 0 << "Not Found DOVIZOV.BIN";
        QTest::newRow("65536 bytes refused") << 65536 << "is 65536 bytes long";
    }

    void kernelFileProblems() {
        QFETCH(int, size);
        QFETCH(QString, expected);
        SimulatedWrite write;
        if (size < 0)
            QFile::remove(write.kernelPath);
        else
            write.SetKernel(QByteArray(size, '\x01'));
        write.Run();
        QCOMPARE(write.messages.texts.size(), 1);
        QVERIFY2(write.messages.texts.front().contains(expected),
                 qPrintable(write.messages.texts.front()));
        if (size > 0) QVERIFY(write.messages.texts.front().contains(write.kernelPath));
        QVERIFY(write.HostBytes().isEmpty());
    }

    void unreadableSRecordFileSendsNothing() {
        SimulatedWrite write;
        write.sRecordPath = write.FilePath("vanished.mot");
        write.Run();
        QCOMPARE(write.messages.texts,
                 QStringList{"Cannot read the S-record file " + write.sRecordPath +
                             ": No such file or directory. Nothing was sent."});
        QVERIFY(write.HostBytes().isEmpty());
    }

    // Everything the host sends after the board's 0x06, for images of a few sizes.
    void flashStageBytes_data() {
        QTest::addColumn<QByteArray>("records");
        QTest::addColumn<QByteArray>("expected");  // hex
        QTest::newRow("two bytes 12 34") << QByteArray("S1050000123400\n")
                                         << QByteArray(
                                                "0000000000000002"
                                                "111234"
                                                "11b9");
        QTest::newRow("one byte FF, checksum 00")
            << QByteArray("S00600004844521B\nS1040000FFFC\nS9030000FC\n")
            << QByteArray(
                   "0000000000000001"
                   "11ff"
                   "1100");
        const QByteArray block(64, '\x01');
        QTest::newRow("N = 64: one full block") << SRecordsFor(block)
                                                << QByteArray(
                                                       "0000000000000040"
                                                       "11" +
                                                       block.toHex() + "11bf");
        QTest::newRow("N = 65: a full block and one byte") << SRecordsFor(block + '\x02')
                                                           << QByteArray(
                                                                  "0000000000000041"
                                                                  "11" +
                                                                  block.toHex() +
                                                                  "1102"
                                                                  "11bd");
    }

    void flashStageBytes() {
        QFETCH(QByteArray, records);
        QFETCH(QByteArray, expected);
        SimulatedWrite write;
        write.SetSRecords(records);
        write.Run();
        QCOMPARE(write.messages.texts, QStringList{Ok});
        const QByteArray atKernelSpeed = write.HostBytes(57600);
        QVERIFY(atKernelSpeed.startsWith(QByteArray::fromHex("cc335000")));
        QCOMPARE(atKernelSpeed.mid(4).toHex(), expected);
        QCOMPARE(write.progress.values.last(), 0);
    }

    void kernelDownloadPacing() {
        SimulatedWrite write;
        write.SetKernel(QByteArray(291, '\x11'));
        write.Run();
        QCOMPARE(write.messages.texts, QStringList{Ok});

        const auto log = write.Board().WireLog();
        const QByteArray boot = write.HostBytes(19200);
        QCOMPARE(boot.left(7).toHex(), QByteArray("0000000055"
                                                  "0123"));
        QList<double> lengthTimes;
        for (const WireEvent& event : log)
            if (event.fromHost && lengthTimes.size() < 7) lengthTimes << event.seconds;
        QVERIFY2(lengthTimes[6] - lengthTimes[5] >= LengthGapSeen,
                 qPrintable(QString::number(lengthTimes[6] - lengthTimes[5])));

        QList<int> expectedValues;
        for (int k = 11; k <= 291; k += 11) expectedValues << k;
        expectedValues << 291;
        QCOMPARE(write.progress.maximums.first(), 291);
        QCOMPARE(write.progress.values.mid(0, expectedValues.size()), expectedValues);
    }

    // The whole exchange of a full-image write, byte for byte and speed for speed, with the
    // prescribed gaps, however many bytes each system call carries.
    void fullImageWireBytesAndGapsThenNextWriteAtBootSpeed() {
        SimulatedWrite write;
        QByteArray image(morven::ImageSize, Qt::Uninitialized);
        QRandomGenerator random(11);
        for (char& c : image) c = static_cast<char>(random.bounded(256));
        QByteArray kernel(291, Qt::Uninitialized);
        for (char& c : kernel) c = static_cast<char>(random.bounded(256));
        write.SetKernel(kernel);
        write.SetSRecords(SRecordsFor(image));
        write.Run();
        QCOMPARE(write.messages.texts, QStringList{Ok});

        const QByteArray boot = QByteArray::fromHex("00000000550123") + kernel;
        QByteArray flash = QByteArray::fromHex("cc3350000000000000060000");
        quint8 sum = 0;
        for (qsizetype at = 0; at < image.size(); at += 64) {
            flash += '\x11' + image.mid(at, 64);
            for (const char c : image.mid(at, 64)) sum = quint8(sum + quint8(c));
        }
        flash += '\x11';
        flash += char(~sum);
        QVERIFY(write.HostBytes(19200) == boot);
        QVERIFY(write.HostBytes(57600) == flash);
        QVERIFY(write.HostBytes() == boot + flash);

        QList<double> hostTimes;
        for (const WireEvent& event : write.Board().WireLog())
            if (event.fromHost) hostTimes << event.seconds;
        QVERIFY2(hostTimes[6] - hostTimes[5] >= LengthGapSeen,
                 qPrintable(QString::number(hostTimes[6] - hostTimes[5])));
        const qsizetype opening = boot.size() + 1;       // 0x33, then 0x50
        QVERIFY(hostTimes[opening + 1] - hostTimes[opening] >= 0.195);
        QCOMPARE(write.progress.maximums.last(), morven::ImageSize);

        write.Board().ClearWireLog();
        write.SetSRecords("S1050000123400\n");
        write.Run();
        QCOMPARE(write.messages.texts.last(), Ok);
        const auto log = write.Board().WireLog();
        QVERIFY(!log.empty());
        QCOMPARE(log.front().baud, 19200);
        QCOMPARE(write.Board().CompletedWrites(), 2);
    }
};

QTEST_GUILESS_MAIN(TestWriteSequence)
#include "tst_writesequence.moc"
