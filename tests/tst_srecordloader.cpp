#include <QCryptographicHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

#include "image/SRecordLoader.h"

using namespace morven;

using ByteChecks = QList<QPair<int, int>>;  // address, expected value
using Ranges = QList<AddressRange>;

namespace {

LoadedImage Load(const QByteArray& text) {
    return LoadSRecordText(
        std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
}

}  // namespace

class TestSRecordLoader : public QObject {
    Q_OBJECT

private:
    static int CountWritten(const LoadedImage& image) {
        return static_cast<int>(std::count_if(image.TargetImage.begin(), image.TargetImage.end(),
                                              [](std::uint8_t b) { return b != 0xFF; }));
    }

private slots:
    void parsesRecords_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("maxAddress");
        QTest::addColumn<int>("written");  // bytes that differ from 0xFF afterwards
        QTest::addColumn<ByteChecks>("checks");

        QTest::newRow("header and end only")
            << QByteArray("S00600004844521B\nS9030000FC\n") << 0 << 0 << ByteChecks{{0, 0xFF}};
        QTest::newRow("S1 with sixteen bytes at 0")
            << QByteArray("S1130000000102030405060708090A0B0C0D0E0F74\n") << 0x0F << 16
            << ByteChecks{{0, 0x00}, {1, 0x01}, {0x0F, 0x0F}, {0x10, 0xFF}};
        QTest::newRow("S2 crossing the end of the image")
            << QByteArray("S21405FFF8101112131415161718191A1B1C1D1E1F00\n") << 0x5FFFF << 8
            << ByteChecks{{0x5FFF8, 0x10}, {0x5FFFF, 0x17}};
        QTest::newRow("S3 at the end of the image is dropped")
            << QByteArray("S30900060000AABBCCDD00\n") << 0 << 0 << ByteChecks{};
        QTest::newRow("S3 address with high digit 8 is out of range")
            << QByteArray("S30680000000AA00\n") << 0 << 0 << ByteChecks{};
        QTest::newRow("bad checksum stored anyway") << QByteArray("S1050010ABCD00\n") << 0x11 << 2
                                                    << ByteChecks{{0x10, 0xAB}, {0x11, 0xCD}};
        QTest::newRow("later record wins") << QByteArray("S1050010ABCD00\nS104001177FF\n") << 0x11
                                           << 2 << ByteChecks{{0x10, 0xAB}, {0x11, 0x77}};
        QTest::newRow("gap reads back as FF")
            << QByteArray("S104000011EA\nS104000422E5\n") << 4 << 2
            << ByteChecks{{0, 0x11}, {1, 0xFF}, {3, 0xFF}, {4, 0x22}};
        QTest::newRow("CRLF line ends") << QByteArray("S104000011EA\r\nS104000122E8\r\n") << 1 << 2
                                        << ByteChecks{{0, 0x11}, {1, 0x22}};
        QTest::newRow("lone CR line ends") << QByteArray("S104000011EA\rS104000122E8\r") << 1 << 2
                                           << ByteChecks{{0, 0x11}, {1, 0x22}};
        QTest::newRow("no line end after the last record")
            << QByteArray("S104000011EA\nS104000122E8") << 1 << 2 << ByteChecks{{1, 0x22}};
        QTest::newRow("lower-case hex") << QByteArray("s1050a0bab0c00\n") << 0x0A0C << 2
                                        << ByteChecks{{0x0A0B, 0xAB}, {0x0A0C, 0x0C}};
        QTest::newRow("line shorter than its count is skipped whole")
            << QByteArray("S1070020112233\nS104000011EA\n") << 0 << 1
            << ByteChecks{{0, 0x11}, {0x20, 0xFF}};
        QTest::newRow("line shorter than its header is skipped")
            << QByteArray("S2\nS10\nS3050000\n") << 0 << 0 << ByteChecks{};
        QTest::newRow("non-hex digit in data skipped whole")
            << QByteArray("S1060030AAGGBB00\n") << 0 << 0 << ByteChecks{{0x30, 0xFF}};
        QTest::newRow("non-hex digit in address skipped whole")
            << QByteArray("S10400Z011EA\n") << 0 << 0 << ByteChecks{};
        QTest::newRow("blank lines and garbage")
            << QByteArray("\n\n  \nhello\nS1\n\r\n") << 0 << 0 << ByteChecks{};
        QTest::newRow("count too small for any data")
            << QByteArray("S1030040BC\nS1020040\n") << 0 << 0 << ByteChecks{};
    }

    void parsesRecords() {
        QFETCH(QByteArray, text);
        QFETCH(int, maxAddress);
        QFETCH(int, written);
        QFETCH(ByteChecks, checks);

        const LoadedImage image = Load(text);

        QCOMPARE(image.MaxAddress, maxAddress);
        QCOMPARE(CountWritten(image), written);
        for (const auto& [address, value] : checks)
            QCOMPARE(int(image.TargetImage[address]), value);
    }

    // What the load tells beside the image: the problems with their first lines, the merged
    // ranges and N.
    void reportsWhatTheLoadDid_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<int>>("badChecksumLines");
        QTest::addColumn<QList<int>>("malformedLines");
        QTest::addColumn<int>("dropped");
        QTest::addColumn<int>("overwritten");
        QTest::addColumn<Ranges>("ranges");
        QTest::addColumn<int>("length");

        const QByteArray clean = "S00600004844521B\nS104000011EA\nS10500012233A4\nS9030000FC\n";
        QTest::newRow("clean, LF")
            << clean << QList<int>{} << QList<int>{} << 0 << 0 << Ranges{{0, 2}} << 3;
        QTest::newRow("clean, CRLF") << QByteArray(clean).replace("\n", "\r\n") << QList<int>{}
                                     << QList<int>{} << 0 << 0 << Ranges{{0, 2}} << 3;
        QTest::newRow("clean, CR, blank lines")
            << QByteArray(clean).replace("\n", "\r\r") << QList<int>{} << QList<int>{} << 0 << 0
            << Ranges{{0, 2}} << 3;
        QTest::newRow("bad checksums on lines 2 and 4")
            << QByteArray("S104000011EA\nS104000122E9\nS104000233C6\r\nS104000344E0\n")
            << QList<int>{2, 4} << QList<int>{} << 0 << 0 << Ranges{{0, 3}} << 4;
        QTest::newRow("malformed lines, numbered across CRLF")
            << QByteArray("S104000011EA\r\nhello\r\nS1070020112233\r\n:100000000000\r\nS1\r\n")
            << QList<int>{} << QList<int>{2, 3, 4, 5} << 0 << 0 << Ranges{{0, 0}} << 1;
        QTest::newRow("beyond the flash")
            << QByteArray(
                   "S21405FFF8101112131415161718191A1B1C1D1E1F77\n"
                   "S30900060000AABBCCDDE2\n")
            << QList<int>{} << QList<int>{} << 12 << 0 << Ranges{{0x5FFF8, 0x5FFFF}} << 0x60000;
        QTest::newRow("overlapping, gaps merged apart")
            << QByteArray("S1050010ABCD72\nS10400117773\nS10400128861\nS10400209942\n")
            << QList<int>{} << QList<int>{} << 0 << 1 << Ranges{{0x10, 0x12}, {0x20, 0x20}} << 0x21;
        QTest::newRow("header only: nothing to write")
            << QByteArray("S00600004844521B\nS9030000FC\n") << QList<int>{} << QList<int>{} << 0
            << 0 << Ranges{} << 0;
    }

    void reportsWhatTheLoadDid() {
        QFETCH(QByteArray, text);
        QFETCH(QList<int>, badChecksumLines);
        QFETCH(QList<int>, malformedLines);
        QFETCH(int, dropped);
        QFETCH(int, overwritten);
        QFETCH(Ranges, ranges);
        QFETCH(int, length);
        const LoadReport report = Load(text).report;
        QCOMPARE(report.firstBadChecksumLines, badChecksumLines);
        QCOMPARE(report.badChecksums, badChecksumLines.size());
        QCOMPARE(report.firstMalformedLines, malformedLines);
        QCOMPARE(report.droppedBytes, dropped);
        QCOMPARE(report.overwrittenBytes, overwritten);
        QCOMPARE(report.ranges, ranges);
        QCOMPARE(report.length, length);
        QCOMPARE(report.HasWarnings(), !badChecksumLines.isEmpty() || !malformedLines.isEmpty() ||
                                           dropped > 0 || overwritten > 0);
        QCOMPARE(report.Warnings().isEmpty(), !report.HasWarnings());
        QCOMPARE(report.NothingToWriteReason().isEmpty(), length > 0);
    }

    // The zip CRC-32 of "123456789" is 0xCBF43926; its SHA-256 and the protocol's checksum
    // are those of the same nine bytes.
    void identityOfTheBytesSent() {
        const QByteArray data = "123456789";
        const LoadReport report = Load("S10C0000" + data.toHex().toUpper() + "00\n").report;
        QCOMPARE(report.length, 9);
        QCOMPARE(report.crc32, 0xCBF43926u);
        QCOMPARE(report.sha256, QCryptographicHash::hash(data, QCryptographicHash::Sha256));
        QCOMPARE(int(report.checksum),
                 int(quint8(~(0x31 + 0x32 + 0x33 + 0x34 + 0x35 + 0x36 + 0x37 + 0x38 + 0x39))));
    }

    // Files written by srec_cat from random data, with gaps, overlaps and data beyond the
    // image, must give the same image srec_cat reads back from them.
    void matchesSrecCat_data() {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 2u, 3u, 4u}) QTest::addRow("seed %u", seed) << seed;
    }

    void matchesSrecCat() {
        QFETCH(quint32, seed);
        const QString srecCat = QStandardPaths::findExecutable("srec_cat");
        if (srecCat.isEmpty()) QSKIP("srec_cat (Debian package srecord) is not installed");
        QTemporaryDir dir;
        QRandomGenerator random(seed);

        QByteArray records;
        for (int segment = 0; segment < 12; ++segment) {
            const int kind = random.bounded(3);  // S1, S2, S3
            const int length = 1 + random.bounded(3000);
            const quint32 limit = kind == 0 ? 0x10000 : 0x61000;
            quint32 address = random.bounded(limit - length);
            if (segment == 11) address = 0x60000 - 100;  // runs past the end of the image
            QByteArray data(length, Qt::Uninitialized);
            for (char& c : data) c = static_cast<char>(random.bounded(256));
            const QString binPath = dir.filePath(QString("seg%1.bin").arg(segment));
            const QString srecPath = dir.filePath(QString("seg%1.srec").arg(segment));
            QFile bin(binPath);
            QVERIFY(bin.open(QIODevice::WriteOnly));
            bin.write(data);
            bin.close();
            QCOMPARE(QProcess::execute(
                         srecCat, {binPath, "-binary", "-offset", QString::number(address), "-o",
                                   srecPath, QString("-address-length=%1").arg(kind + 2)}),
                     0);
            QFile srec(srecPath);
            QVERIFY(srec.open(QIODevice::ReadOnly));
            while (!srec.atEnd()) {
                const QByteArray line = srec.readLine();
                if (line.startsWith("S1") || line.startsWith("S2") || line.startsWith("S3"))
                    records += line;
            }
        }
        const QString combined = dir.filePath("combined.mot");
        QFile out(combined);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(records);
        out.close();

        const QString reference = dir.filePath("reference.bin");
        QProcess process;
        process.start(srecCat, {"-multiple", combined, "-crop", "0", "0x60000", "-fill", "0xFF",
                                "0", "0x60000", "-o", reference, "-binary"});
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 0);
        QFile referenceFile(reference);
        QVERIFY(referenceFile.open(QIODevice::ReadOnly));
        const QByteArray expected = referenceFile.readAll();
        QCOMPARE(expected.size(), ImageSize);

        const LoadedImage image = Load(records);
        const QByteArray actual(reinterpret_cast<const char*>(image.TargetImage.data()), ImageSize);
        QVERIFY(actual == expected);
        QCOMPARE(image.MaxAddress, 0x5FFFF);
        QCOMPARE(image.report.sha256,
                 QCryptographicHash::hash(expected, QCryptographicHash::Sha256));
        QCOMPARE(image.report.badChecksums, 0);
        QCOMPARE(image.report.malformedLines, 0);
    }
};

QTEST_APPLESS_MAIN(TestSRecordLoader)
#include "tst_srecordloader.moc"
