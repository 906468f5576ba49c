// Intel HEX and ELF read as what they are, raw binary at an address: the same image from every
// format, and each refusal. The files are made by the tools that make them in the field:
// srec_cat, and the GNU assembler and linker (x86 in 32 and 64 bits, big-endian PowerPC).
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include "SimulatedWrite.h"
#include "image/FirmwareLoader.h"

using morven::FirmwareFormat;
using morven::LoadedImage;

namespace {

QByteArray RandomBytes(int size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char& c : bytes) c = char(random.bounded(256));
    return bytes;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs a tool; fails the test with its output when it fails.
bool Run(const QString& program, const QStringList& arguments, const QString& folder) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    qWarning("%s %s: %s", qPrintable(program), qPrintable(arguments.join(' ')),
             process.readAll().constData());
    return false;
}

std::variant<LoadedImage, morven::FormatRefusal> Load(const QByteArray& bytes,
                                                      std::optional<std::uint32_t> at = {}) {
    return morven::LoadFirmware(std::string_view(bytes.constData(), size_t(bytes.size())), at);
}

// The image bytes 0 .. N-1 a load gives, or "" when it was refused.
QByteArray Image(const std::variant<LoadedImage, morven::FormatRefusal>& loaded) {
    const auto* image = std::get_if<LoadedImage>(&loaded);
    if (!image) return {};
    return QByteArray(reinterpret_cast<const char*>(image->TargetImage.data()),
                      image->report.length);
}

QString RefusalOf(const std::variant<LoadedImage, morven::FormatRefusal>& loaded) {
    const auto* refusal = std::get_if<morven::FormatRefusal>(&loaded);
    return refusal ? refusal->reason : QString();
}

}  // namespace

class TestFirmwareFormats : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    // One image past 64 KiB with a hole, written by srec_cat in each form: all load the same.
    void srecCatFormatsAgree_data() {
        QTest::addColumn<QStringList>("output");  // srec_cat's output format options
        QTest::addColumn<FirmwareFormat>("format");
        QTest::newRow("S-records") << QStringList{"-motorola"} << FirmwareFormat::SRecord;
        QTest::newRow("Intel HEX, 16-byte records, linear addresses")
            << QStringList{"-intel", "-obs=16"} << FirmwareFormat::IntelHex;
        QTest::newRow("Intel HEX, 32-byte records, linear addresses")
            << QStringList{"-intel", "-obs=32"} << FirmwareFormat::IntelHex;
        QTest::newRow("Intel HEX, 16-byte records, segment addresses")
            << QStringList{"-intel", "-address-length=3", "-obs=16"} << FirmwareFormat::IntelHex;
        QTest::newRow("Intel HEX, 32-byte records, segment addresses")
            << QStringList{"-intel", "-address-length=3", "-obs=32"} << FirmwareFormat::IntelHex;
    }

    void srecCatFormatsAgree() {
        QFETCH(QStringList, output);
        QFETCH(FirmwareFormat, format);
        QByteArray expected = RandomBytes(0x1C000, 31);
        expected.replace(0x9000, 0x800, QByteArray(0x800, '\xFF'));  // a hole
        SimulatedWrite::WriteFile(dir_.filePath("image.bin"), expected.mid(0x100));
        QVERIFY(Run("srec_cat",
                    QStringList{"image.bin", "-binary", "-offset", "0x100", "-crop", "0", "0x9000",
                                "0x9800", "0x1C000", "-o", "image.out"} +
                        output,
                    dir_.path()));
        expected.replace(0, 0x100, QByteArray(0x100, '\xFF'));
        const auto loaded = Load(ReadAll(dir_.filePath("image.out")));
        QCOMPARE(std::get<LoadedImage>(loaded).report.format, format);
        QVERIFY(Image(loaded) == expected);
        QVERIFY(std::get<LoadedImage>(loaded).report.Warnings().isEmpty());
    }

    // ELF files from the GNU toolchain: code at 0x1000, data linked to run at 0x8000 but loaded
    // at 0x4000 (its physical address is what the flash gets), then .bss, which is not written.
    void elfSegmentsAtTheirLoadAddresses_data() {
        QTest::addColumn<QString>("as");
        QTest::addColumn<QStringList>("asFlags");
        QTest::addColumn<QString>("ld");
        QTest::addColumn<QStringList>("ldFlags");
        QTest::newRow("64-bit little-endian")
            << "as" << QStringList{"--64"} << "ld" << QStringList{"-m", "elf_x86_64"};
        QTest::newRow("32-bit little-endian")
            << "as" << QStringList{"--32"} << "ld" << QStringList{"-m", "elf_i386"};
        QTest::newRow("32-bit big-endian")
            << "powerpc-linux-gnu-as" << QStringList{} << "powerpc-linux-gnu-ld" << QStringList{};
    }

    void elfSegmentsAtTheirLoadAddresses() {
        QFETCH(QString, as);
        QFETCH(QStringList, asFlags);
        QFETCH(QString, ld);
        QFETCH(QStringList, ldFlags);
        const QByteArray code = RandomBytes(300, 1), data = RandomBytes(200, 2);
        SimulatedWrite::WriteFile(dir_.filePath("code.bin"), code);
        SimulatedWrite::WriteFile(dir_.filePath("data.bin"), data);
        SimulatedWrite::WriteFile(dir_.filePath("program.s"),
                                  ".text\n.incbin \"code.bin\"\n"
                                  ".data\n.incbin \"data.bin\"\n"
                                  ".bss\n.skip 4096\n");
        SimulatedWrite::WriteFile(dir_.filePath("program.ld"),
                                  "PHDRS { code PT_LOAD; data PT_LOAD; }\n"
                                  "SECTIONS {\n"
                                  "  .text 0x1000 : { *(.text) } :code\n"
                                  "  .data 0x8000 : AT(0x4000) { *(.data) } :data\n"
                                  "  .bss : { *(.bss) } :data\n"
                                  "}\n");
        QVERIFY(Run(as, asFlags + QStringList{"-o", "program.o", "program.s"}, dir_.path()));
        QVERIFY(Run(ld, ldFlags + QStringList{"-T", "program.ld", "-o", "program.elf", "program.o"},
                    dir_.path()));
        QByteArray expected(0x4000 + data.size(), '\xFF');
        expected.replace(0x1000, code.size(), code);
        expected.replace(0x4000, data.size(), data);
        const QByteArray elf = ReadAll(dir_.filePath("program.elf"));
        const auto loaded = Load(elf);
        QVERIFY2(Image(loaded) == expected, qPrintable(RefusalOf(loaded)));
        const QStringList layout = std::get<LoadedImage>(loaded).report.layout;
        QCOMPARE(layout.size(), 2);
        QVERIFY2(layout[1].startsWith("segment 1: 0x00004000-") &&
                     layout[1].contains("run at 0x00008000") &&
                     layout[1].endsWith("more bytes in memory only, not written"),
                 qPrintable(layout[1]));

        // The same file cut short, and the object before linking, are refused.
        QVERIFY2(RefusalOf(Load(elf.left(0x1080))).contains("cut short"),
                 qPrintable(RefusalOf(Load(elf.left(0x1080)))));
        QCOMPARE(RefusalOf(Load(ReadAll(dir_.filePath("program.o")))),
                 QString("it has no loadable segment"));
    }

    // Two segments whose load addresses overlap: which the flash would get depends on their order.
    void elfOverlappingSegmentsRefused() {
        SimulatedWrite::WriteFile(dir_.filePath("overlap.s"),
                                  ".text\n.fill 64,1,0x11\n"
                                  ".data\n.fill 64,1,0x22\n");
        SimulatedWrite::WriteFile(dir_.filePath("overlap.ld"),
                                  "PHDRS { a PT_LOAD; b PT_LOAD; }\n"
                                  "SECTIONS {\n"
                                  "  .text 0x1000 : { *(.text) } :a\n"
                                  "  .data 0x8000 : AT(0x1020) { *(.data) } :b\n"
                                  "}\n");
        QVERIFY(Run("as", {"--64", "-o", "overlap.o", "overlap.s"}, dir_.path()));
        QVERIFY(Run("ld",
                    {"-m", "elf_x86_64", "--no-check-sections", "-T", "overlap.ld", "-o",
                     "overlap.elf", "overlap.o"},
                    dir_.path()));
        QCOMPARE(RefusalOf(Load(ReadAll(dir_.filePath("overlap.elf")))),
                 QString("segments 0 and 1 overlap at 0x00001020"));
    }

    // A toolchain never writes a broken Intel HEX file: every flaw refuses it, with its line.
    void intelHexRefusals_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("reason");
        const QByteArray data = IntelHexRecord(0, 0x100, "\x01\x02\x03");
        const QByteArray end = IntelHexRecord(1, 0, {});
        QByteArray badSum = data;
        badSum[badSum.size() - 2] = badSum.endsWith("0\n") ? '1' : '0';
        QTest::newRow("wrong checksum")
            << badSum + end << "line 1 is not an Intel HEX record: its checksum is wrong";
        QTest::newRow("count too large") << ":0401000001020368\n" + end
                                         << "line 1 is not an Intel HEX record: its byte count "
                                            "says 4 data bytes, it holds 3";
        QTest::newRow("not hex") << ":0101000G01FD\n" + end
                                 << "line 1 is not an Intel HEX record: it holds a character "
                                    "that is no hex digit";
        QTest::newRow("not a record") << data + "hello\n" + end
                                      << "line 2 is not an Intel HEX record: it does not begin "
                                         "with ':'";
        QTest::newRow("data after the end")
            << end + data << "line 2 follows the end-of-file record";
        QTest::newRow("no end") << data
                                << "it ends without an end-of-file record (01): the file "
                                   "may be cut short";
        QTest::newRow("unknown type")
            << IntelHexRecord(6, 0, {}) + end << "line 1 has the unknown record type 06";
        QTest::newRow("segment record of one byte")
            << IntelHexRecord(2, 0, "\x10") + end
            << "line 1: a record of type 02 carries 1 data bytes, not 2";
    }

    void intelHexRefusals() {
        QFETCH(QByteArray, text);
        QFETCH(QString, reason);
        QCOMPARE(RefusalOf(Load(text)), reason);
    }

    // Start addresses are named, not written; data wraps within its segment as the format says.
    void intelHexStartAddressesAndSegmentWrap() {
        const QByteArray text = IntelHexRecord(2, 0, QByteArray::fromHex("1000")) +
                                IntelHexRecord(0, 0xFFFE, "\xAA\xBB\xCC\xDD") +
                                IntelHexRecord(5, 0, QByteArray::fromHex("00012345")) +
                                IntelHexRecord(3, 0, QByteArray::fromHex("12345678")) +
                                IntelHexRecord(1, 0, {});
        const auto loaded = Load(text);
        const LoadedImage& image = std::get<LoadedImage>(loaded);
        QCOMPARE(image.report.layout,
                 (QStringList{"start address (05), not written: 0x00012345",
                              "start address (03), not written: CS:IP 0x1234:0x5678"}));
        QCOMPARE(image.TargetImage[0x1FFFE], std::uint8_t(0xAA));
        QCOMPARE(image.TargetImage[0x1FFFF], std::uint8_t(0xBB));
        QCOMPARE(image.TargetImage[0x10000], std::uint8_t(0xCC));  // wrapped to the segment's start
        QCOMPARE(image.report.length, 0x20000);
    }

    // Detected from the content, never from the name; binary only when asked, at its address.
    void detectionAndBinary_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("binaryAt");  // -1: detect
        QTest::addColumn<FirmwareFormat>("format");
        QTest::addColumn<int>("length");
        QTest::newRow("S-record") << QByteArray("S1050000123400\n") << -1 << FirmwareFormat::SRecord
                                  << 2;
        QTest::newRow("lower-case s after blank lines")
            << QByteArray("\n\ns1050000123400\n") << -1 << FirmwareFormat::SRecord << 2;
        QTest::newRow("Intel HEX after blank lines")
            << "\r\n" + IntelHexRecord(0, 0x10, "\x55") + IntelHexRecord(1, 0, {}) << -1
            << FirmwareFormat::IntelHex << 0x11;
        QTest::newRow("anything else goes to the S-record loader")
            << QByteArray("hello") << -1 << FirmwareFormat::SRecord << 0;
        QTest::newRow("binary at 0x100") << QByteArray(
                                                "\x7f"
                                                "ELF",
                                                4)
                                         << 0x100 << FirmwareFormat::Binary << 0x104;
        QTest::newRow("binary past the flash is dropped")
            << QByteArray(16, 'x') << 0x5FFF8 << FirmwareFormat::Binary << 0x60000;
    }

    void detectionAndBinary() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, binaryAt);
        QFETCH(FirmwareFormat, format);
        QFETCH(int, length);
        const auto loaded =
            Load(bytes, binaryAt < 0 ? std::nullopt : std::optional<std::uint32_t>(binaryAt));
        const LoadedImage& image = std::get<LoadedImage>(loaded);
        QCOMPARE(image.report.format, format);
        QCOMPARE(image.report.length, length);
        if (format == FirmwareFormat::Binary)
            QCOMPARE(image.report.droppedBytes, qint64(binaryAt + bytes.size() - length));
    }
};

QTEST_APPLESS_MAIN(TestFirmwareFormats)
#include "tst_firmwareformats.moc"
