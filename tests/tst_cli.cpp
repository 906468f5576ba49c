// morven-cli as a process, against the simulated board on a pty.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <csignal>
#include <cstdlib>

#include "CliRun.h"
#include "line/PortChoice.h"
#include "image/TargetImage.h"

namespace {

// A write of the simulated board's S-record file through COM1 (the board) with its kernel.
QStringList WriteArguments(const SimulatedWrite& write, const QString& file = {}) {
    return {"--port", "COM1", "--kernel", write.kernelPath,
            file.isEmpty() ? write.sRecordPath : file};
}

// Intel HEX text holding data from base (below 64 KiB), in 16-byte records.
QByteArray IntelHexFor(const QByteArray& data, int base) {
    QByteArray text;
    for (qsizetype at = 0; at < data.size(); at += 16)
        text += IntelHexRecord(0, int(base + at), data.mid(at, 16));
    return text + IntelHexRecord(1, 0, {});
}

// Boards on their own ptys, written by one morven-cli with one --port each; the file and kernel
// are the first board's.
struct Gang {
    explicit Gang(const QStringList& faults) {
        for (const QString& fault : faults)
            boards.push_back(std::make_unique<SimulatedWrite>(Faults(fault)));
    }
    QString Port(int i) const { return QString::fromStdString(boards[i]->Board().SlavePath()); }
    QStringList Arguments(const QStringList& extra = {}) const {
        QStringList arguments = extra;
        for (int i = 0; i < int(boards.size()); ++i) arguments << "--port" << Port(i);
        return arguments << "--kernel" << boards[0]->kernelPath << boards[0]->sRecordPath;
    }
    std::vector<std::unique_ptr<SimulatedWrite>> boards;
};

}  // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void outcomes_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("imageBytes");
        QTest::addColumn<QString>("lastLine");
        QTest::addColumn<int>("status");
        QTest::newRow("full image") << "" << int(morven::ImageSize) << "O.K." << 0;
        QTest::newRow("no confirmation") << "confirm=silent" << 2 << "Err 1" << 3;
        QTest::newRow("kernel echo late")
            << "kernel-byte:2=delay:3300" << 2 << "Time Out Farm Err" << 4;
        QTest::newRow("kernel echo wrong") << "kernel-byte:2=wrong:0x15" << 2 << "Farm Err" << 5;
        QTest::newRow("no block request") << "block:1=silent" << 2 << "Time Out S File Err" << 7;
        QTest::newRow("checksum refused") << "closing=wrong:0x15" << 2 << "S File Err " << 8;
        QTest::newRow("line dropped")
            << "block:1=drop" << 2 << "The serial port failed during the write: COM1" << 9;
    }

    void outcomes() {
        QFETCH(QString, fault);
        QFETCH(int, imageBytes);
        QFETCH(QString, lastLine);
        QFETCH(int, status);
        SimulatedWrite write(Faults(fault));
        QByteArray image(imageBytes, Qt::Uninitialized);
        for (qsizetype i = 0; i < image.size(); ++i) image[i] = char(i * 7 + i / 251);
        write.SetSRecords(SRecordsFor(image));
        const CliRun run = Cli(WriteArguments(write));
        QVERIFY2(run.LastLine().startsWith(lastLine), run.out + run.err);
        QCOMPARE(run.status, status);
        // No answer to the wake-up: the board is told to be reset, on standard error only.
        QCOMPARE(run.err.contains("hint: COM1: no answer to the wake-up: reset the board"),
                 status == 3);
        if (status != 0) return;
        const std::vector<std::uint8_t> received = write.Board().LastImage();
        QVERIFY(QByteArray(reinterpret_cast<const char*>(received.data()),
                           qsizetype(received.size())) == image);
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown option") << QStringList{"--speed", "9600", "a.mot"};
        QTest::newRow("no file") << QStringList{"--port", "COM1"};
        QTest::newRow("two files") << QStringList{"a.mot", "b.mot"};
        QTest::newRow("port 11") << QStringList{"--port", "COM11", "a.mot"};
        QTest::newRow("port 0") << QStringList{"--port", "0", "a.mot"};
        QTest::newRow("port name without path") << QStringList{"--port", "ttyUSB0", "a.mot"};
        QTest::newRow("--check with --json") << QStringList{"--check", "--json", "a.mot"};
    }

    void usageErrors() {
        QFETCH(QStringList, arguments);
        const CliRun run = Cli(arguments);
        QCOMPARE(run.status, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains("--help"), run.err);
    }

    // Refused before anything is sent.
    void refusals_data() {
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("lastLine");
        QTest::addColumn<int>("status");
        QTest::newRow("kernel missing") << "kernel missing"
                                        << "Not found ZIDIDUV.BIN" << 6;
        QTest::newRow("kernel empty") << "kernel empty"
                                      << "Not found ZIDIDUV.BIN" << 6;
        QTest::newRow("kernel too long") << "kernel 65536"
                                         << "The kernel file" << 6;
        QTest::newRow("file unreadable") << "no file"
                                         << "Cannot read the S-record file" << 10;
        QTest::newRow("port missing") << "no port"
                                      << "Cannot open the serial port /nonexistent/tty" << 9;
        // Not plugged in, as a device path that is not there: no usage error.
        QTest::newRow("adapter not plugged in") << "no adapter" << "" << 9;
        // A check reads no format: it names none, and nothing could have been sent.
        QTest::newRow("checked file unreadable")
            << "check no file" << "verdict:   refused: it cannot be read: " << 10;
    }

    void refusals() {
        QFETCH(QString, problem);
        QFETCH(QString, lastLine);
        QFETCH(int, status);
        SimulatedWrite write;
        QStringList arguments = WriteArguments(write);
        if (problem == "kernel missing") QFile::remove(write.kernelPath);
        if (problem == "kernel empty") write.SetKernel({});
        if (problem == "kernel 65536") write.SetKernel(QByteArray(65536, '\x01'));
        if (problem == "no file") arguments.last() = write.FilePath("missing.mot");
        if (problem == "no port") arguments[1] = "/nonexistent/tty";
        if (problem == "no adapter") arguments[1] = "serial:NOT-PLUGGED-IN";
        if (problem == "check no file") arguments = {"--check", write.FilePath("missing.elf")};
        const CliRun run = Cli(arguments);
        QVERIFY2(!run.err.contains("--help"), run.err);
        if (problem == "check no file")
            QVERIFY2(!run.out.contains("S-record") && !run.out.contains("sent"), run.out);
        QVERIFY2(lastLine.isEmpty() ? run.out.isEmpty() : run.LastLine().startsWith(lastLine),
                 run.out + run.err);
        QCOMPARE(run.status, status);
        QVERIFY(write.HostBytes().isEmpty());
    }

    // The S-record file is read whole and checked before the port is opened: the board
    // receives no byte from a file that would write nothing useful.
    void fileRefusals_data() {
        QTest::addColumn<QString>("file");  // a name in the test folder, or an absolute path
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");  // on standard error for 11, standard output for 10
        QByteArray binary(4096, Qt::Uninitialized);
        QRandomGenerator random(5);
        for (char& c : binary) c = char(random.bounded(256));
        QTest::newRow("random binary")
            << "random.bin" << binary << 11 << "hint: a raw binary file needs --binary-at ADDR";
        QTest::newRow("empty") << "empty.mot" << QByteArray() << 11 << "the file is empty";
        QTest::newRow("S0 and S9 only")
            << "header.mot" << QByteArray("S00600004844521B\nS9030000FC\n") << 11
            << "no S1, S2 or S3 data record";
        QTest::newRow("Intel HEX with a wrong checksum")
            << "bad.hex" << QByteArray(":0100000000FE\n:00000001FF\n") << 11
            << "line 1 is not an Intel HEX record: its checksum is wrong";
        QTest::newRow("Intel HEX with data after its end")
            << "after.hex" << IntelHexFor(RandomImage(0x20, 6), 0x3000) + ":0100000000FF\n"
            << 11 << "line 4 follows the end-of-file record";
        QTest::newRow("ELF cut short in its header") << "object.o"
                                                     << QByteArray(
                                                            "\x7f"
                                                            "ELF\x02\x01\x01",
                                                            7)
                                                     << 11 << "The ELF file ";
        QTest::newRow("beyond the flash only")
            << "high.mot" << QByteArray("S30900060000AABBCCDDE2\n") << 11 << "beyond the flash";
        QTest::newRow("folder") << "folder" << QByteArray() << 10 << "it is a folder";
        QTest::newRow("device") << "/dev/zero" << QByteArray() << 10 << "it is a device";
        QTest::newRow("over 64 MiB") << "huge.mot" << QByteArray() << 10 << "larger than 64 MiB";
    }

    void fileRefusals() {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(int, status);
        QFETCH(QString, says);
        SimulatedWrite write;
        const QString path = file.startsWith('/') ? file : write.FilePath(file);
        if (file == "folder")
            QDir().mkdir(path);
        else if (file == "huge.mot")
            QVERIFY(::truncate((SimulatedWrite::WriteFile(path, {}), qPrintable(path)), 65 << 20) ==
                    0);
        else if (!file.startsWith('/'))
            SimulatedWrite::WriteFile(path, content);
        const CliRun run = Cli(WriteArguments(write, path));
        QCOMPARE(run.status, status);
        QVERIFY2((status == 11 ? run.err : run.out).contains(says.toUtf8()), run.out + run.err);
        QVERIFY2((status == 11 ? run.err : run.out).contains("Nothing was sent."), run.err);
        QVERIFY(write.HostBytes().isEmpty());
        // --check ends every refusal with its verdict, whatever refused the file.
        const CliRun check = Cli({"--check", path});
        QCOMPARE(check.status, status);
        QVERIFY2(check.LastLine().startsWith("verdict:   refused: "), check.out + check.err);
    }

    // Every format reaches the board bit-exact, with the same N and SHA-256; --check, the
    // summary and the record name the format.
    void eachFormatWritten_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("program");  // what makes the file from the binary image
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("S-record") << "S-record"
                                  << "srec_cat"
                                  << QStringList{"image.bin", "-binary", "-o", "image.out"};
        QTest::newRow("Intel HEX")
            << "Intel HEX"
            << "srec_cat" << QStringList{"image.bin", "-binary", "-o", "image.out", "-intel"};
        QTest::newRow("ELF") << "ELF"
                             << "ld"
                             << QStringList{"-m",        "elf_x86_64", "-b",
                                            "binary",    "-N",         "--section-start=.data=0",
                                            "-e",        "0",          "-o",
                                            "image.out", "image.bin"};
        QTest::newRow("binary") << "binary"
                                << "cp" << QStringList{"image.bin", "image.out"};
    }

    void eachFormatWritten() {
        QFETCH(QString, format);
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        SimulatedWrite write;
        const QByteArray image = RandomImage(0x12345, 12);
        SimulatedWrite::WriteFile(write.FilePath("image.bin"), image);
        QProcess make;
        make.setWorkingDirectory(write.FilePath("."));
        make.start(program, arguments);
        QVERIFY(make.waitForFinished() && make.exitCode() == 0);
        const QString file = write.FilePath("image.out");
        const QStringList binaryAt =
            format == "binary" ? QStringList{"--binary-at", "0x0"} : QStringList{};
        const CliRun check = Cli(QStringList{"--check"} + binaryAt + QStringList{file});
        QVERIFY2(check.out.contains("format:    " + format.toUtf8() + "\n"), check.out);
        const QString log = write.FilePath("writes.jsonl");
        const CliRun run = Cli(QStringList{"--log", log} + binaryAt + WriteArguments(write, file));
        QCOMPARE(run.status, 0);
        QVERIFY2(run.err.contains("(" + format.toUtf8() + "): 1 range, N = 74565"), run.err);
        QVERIFY(Received(write) == image);
        const QJsonObject record = LogLines(log).value(0);
        QCOMPARE(record["format"].toString(), format);
        QCOMPARE(record["sha256"].toString(),
                 QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
    }

    // A FIFO nobody writes keeps the reader waiting, but SIGTERM ends it at once; nothing is
    // left behind and the port was never opened.
    void fifoWithoutWriterEndedBySigterm() {
        SimulatedWrite write;
        const QString fifo = write.FilePath("pipe.mot");
        QVERIFY(::mkfifo(qPrintable(fifo), 0600) == 0);
        QProcess process;
        StartCli(process, WriteArguments(write, fifo));
        const QString fds = QString("/proc/%1/fd").arg(process.processId());
        QTRY_VERIFY([&] {
            for (const QFileInfo& fd : QDir(fds).entryInfoList(QDir::System))
                if (fd.symLinkTarget() == fifo) return true;
            return false;
        }());
        ::kill(pid_t(process.processId()), SIGTERM);
        const CliRun run = Finish(process, 500);
        QCOMPARE(run.killedBy, SIGTERM);
        QCOMPARE(QDir(write.FilePath("")).entryList(QDir::Files | QDir::System).size(), 3);
        QVERIFY(write.HostBytes().isEmpty());
    }

    void terminalOnStandardInputIsRefused() {
        SimulatedWrite write;
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        QProcess process;
        process.setStandardInputFile(QString::fromLocal8Bit(::ptsname(master)));
        StartCli(process, WriteArguments(write, "-"));
        const CliRun run = Finish(process);
        ::close(master);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains("Standard input is a terminal"), run.err);
        QVERIFY(write.HostBytes().isEmpty());
    }

    // Warnings are printed before the write, --quiet or not; --strict refuses such a file.
    void warnings_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("status");
        QTest::newRow("written with warnings") << QStringList{"--quiet"} << 0;
        QTest::newRow("refused under --strict") << QStringList{"--strict"} << 11;
        QTest::newRow("--check --strict") << QStringList{"--check", "--strict"} << 11;
        QTest::newRow("--check") << QStringList{"--check"} << 0;
    }

    void warnings() {
        QFETCH(QStringList, options);
        QFETCH(int, status);
        SimulatedWrite write;
        write.SetSRecords("S1050000123400\nS104000011EA\nS30900060000AABBCCDDE2\n");
        const CliRun run = Cli(options + WriteArguments(write));
        QCOMPARE(run.status, status);
        const QByteArray report = options.contains("--check") ? run.out : run.err;
        for (const char* warning : {"1 record with a wrong checksum", "4 bytes at 0x60000",
                                    "1 byte written more than once"})
            QVERIFY2(report.contains(warning), report);
        const bool written = status == 0 && !options.contains("--check");
        if (!options.contains("--check"))
            QCOMPARE(run.out.trimmed(), written ? QByteArray("O.K.") : QByteArray());
        QCOMPARE(write.HostBytes().isEmpty(), !written);
    }

    // --check names exactly the bytes a write sends: the SHA-256 of srec_cat's binary image.
    void checkIdentityMatchesSrecCat() {
        const QString srecCat = QStandardPaths::findExecutable("srec_cat");
        if (srecCat.isEmpty()) QSKIP("srec_cat (Debian package srecord) is not installed");
        SimulatedWrite write;
        QByteArray image(100000, Qt::Uninitialized);
        QRandomGenerator random(9);
        for (char& c : image) c = char(random.bounded(256));
        const QString binary = write.FilePath("image.bin");
        SimulatedWrite::WriteFile(binary, image);
        QCOMPARE(QProcess::execute(srecCat, {binary, "-binary", "-o", write.sRecordPath}), 0);
        const CliRun run = Cli({"--check", write.sRecordPath});
        QCOMPARE(run.status, 0);
        const QByteArray sha = QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex();
        QVERIFY2(run.out.contains("SHA-256:   " + sha + "\n"), run.out);
        QVERIFY2(run.out.contains("N:         100000 bytes"), run.out);
        QVERIFY2(run.out.contains("warnings:  none"), run.out);
        const CliRun written = Cli(WriteArguments(write));
        QVERIFY2(written.err.contains("SHA-256 " + sha), written.err);
        QCOMPARE(written.LastLine(), QString("O.K."));
    }

    // One process writes every board at once, each exactly as a single write would; one
    // board's failure leaves the others untouched. The table, the status and the records say
    // which board got what.
    void gang_data() {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("status");
        QTest::newRow("four boards") << QStringList{"", "", "", ""} << 0;
        QTest::newRow("the third fails mid-image")
            << QStringList{"", "", "block:100=drop", ""} << 12;
    }

    void gang() {
        QFETCH(QStringList, faults);
        QFETCH(int, status);
        Gang gang(faults);
        const QByteArray image = RandomImage(0x4000, 21);
        gang.boards[0]->SetSRecords(SRecordsFor(image));
        const QString log = gang.boards[0]->FilePath("writes.jsonl");
        QStringList ports;  // a board that drops its line comes back on a new pty
        for (int i = 0; i < int(faults.size()); ++i) ports << gang.Port(i);
        const CliRun run = Cli(gang.Arguments({"--log", log}));
        QCOMPARE(run.status, status);
        const QStringList rows = QString::fromUtf8(run.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 1 + int(faults.size()));
        // Each write is recorded as it ends, so the log's order is the order the writes ended.
        QMap<QString, QJsonObject> records;
        for (const QJsonObject& record : LogLines(log)) records[record["port"].toString()] = record;
        QCOMPARE(records.size(), faults.size());
        const QString sha = QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex();
        for (int i = 0; i < int(faults.size()); ++i) {
            const QJsonObject record = records[ports[i]];
            const bool fails = !faults[i].isEmpty();
            QVERIFY2(rows[1 + i].startsWith(ports[i]), qPrintable(rows[1 + i]));
            QVERIFY2(rows[1 + i].contains(fails ? "The serial port failed during the write: " +
                                                      ports[i] + ": the port went away"
                                                : "  O.K.  "),
                     qPrintable(rows[1 + i]));
            QCOMPARE(record["outcome"].toString().startsWith("O.K."), !fails);
            QCOMPARE(record["sha256"].toString(), sha);
            QCOMPARE(record["n"].toInt(), image.size());
            QCOMPARE(record["status"].toInt(), fails ? 9 : 0);
            if (!fails) QVERIFY(Received(*gang.boards[i]) == image);
        }
    }

    void samePortTwiceIsAUsageError_data() {
        QTest::addColumn<bool>("byNumber");
        QTest::newRow("the same path twice") << false;
        QTest::newRow("COM1 and the device it maps to") << true;
    }

    void samePortTwiceIsAUsageError() {
        QFETCH(bool, byNumber);
        SimulatedWrite write;
        const QString device = QString::fromStdString(write.Board().SlavePath());
        const CliRun run = Cli({"--port", byNumber ? "COM1" : device, "--port", device, "--kernel",
                                write.kernelPath, write.sRecordPath});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains("name the same device"), run.err);
        QVERIFY(write.HostBytes().isEmpty());
    }

    // Every port is closed (each board sees its host go and takes the next write), then the
    // process dies by the signal; the interrupted writes are recorded as such.
    void gangInterrupted() {
        Gang gang({"", "", ""});
        gang.boards[0]->SetSRecords(SRecordsFor(RandomImage(morven::ImageSize, 4)));
        const QString log = gang.boards[0]->FilePath("writes.jsonl");
        QProcess process;
        StartCli(process, gang.Arguments({"--log", log}));
        WaitForImageStage(process);
        ::kill(pid_t(process.processId()), SIGINT);
        QCOMPARE(Finish(process, 2000).killedBy, SIGINT);
        const QList<QJsonObject> records = LogLines(log);
        QCOMPARE(records.size(), 3);
        for (const QJsonObject& record : records) QCOMPARE(record["status"].toInt(), 130);

        gang.boards[0]->SetSRecords("S10500001234B4\n");
        const CliRun next = Cli(gang.Arguments({"--no-log"}));
        QCOMPARE(next.status, 0);
        for (const auto& board : gang.boards) QCOMPARE(board->Board().CompletedWrites(), 1);
    }

    // Each write is on record the moment it ends: a kill loses only the write still running.
    void recordsSurviveAKill() {
        Gang gang({"", "", "kernel-byte:2=silent"});
        const QString log = gang.boards[0]->FilePath("writes.jsonl");
        QProcess process;
        StartCli(process, gang.Arguments({"--log", log}));
        QTRY_COMPARE(LogLines(log).size(), 2);
        ::kill(pid_t(process.processId()), SIGKILL);
        QCOMPARE(Finish(process).killedBy, SIGKILL);
        const QList<QJsonObject> records = LogLines(log);
        QCOMPARE(records.size(), 2);
        for (const QJsonObject& record : records)
            QCOMPARE(record["outcome"].toString(), QString("O.K."));
    }

    // A signal that comes after the last write ended changes neither the status nor the
    // record. The log is a FIFO nobody reads yet, so morven-cli waits to record, the write over.
    void signalAfterTheWriteEnded() {
        SimulatedWrite write;
        const QString log = write.FilePath("writes.fifo");
        QCOMPARE(::mkfifo(qPrintable(log), 0600), 0);
        QProcess process;
        StartCli(process, QStringList{"--log", log} + WriteArguments(write));
        const QString syscall = QString("/proc/%1/syscall").arg(process.processId());
        QTRY_VERIFY(Contents(syscall).startsWith(QByteArray::number(SYS_openat) + ' '));
        QCOMPARE(write.Board().CompletedWrites(), 1);
        ::kill(pid_t(process.processId()), SIGINT);
        QFile fifo(log);
        QVERIFY(fifo.open(QIODevice::ReadOnly));
        const QJsonObject record = QJsonDocument::fromJson(fifo.readAll()).object();
        const CliRun run = Finish(process);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.LastLine(), QString("O.K."));
        QCOMPARE(record["status"].toInt(), 0);
    }

    // User text is never formatted again: a port path and a file name holding %1 come out whole.
    void percentSignsComeOutWhole() {
        Gang gang({"", ""});
        const QString link = gang.boards[0]->FilePath("board %1%3");
        QVERIFY(QFile::link(gang.Port(0), link));
        const QString file = gang.boards[0]->FilePath("program %2.mot");
        QVERIFY(QFile::copy(gang.boards[0]->sRecordPath, file));
        const QString log = gang.boards[0]->FilePath("writes.jsonl");
        const CliRun run = Cli({"--log", log, "--port", link, "--port", gang.Port(1), "--kernel",
                                gang.boards[0]->kernelPath, file});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.contains("\n" + link.toUtf8() + "  "), run.out);
        QVERIFY2(run.err.contains("writing " + file.toUtf8() + " through " + link.toUtf8()),
                 run.err);
        QSet<QString> ports;
        for (const QJsonObject& record : LogLines(log)) {
            QCOMPARE(record["file"].toString(), file);
            ports << record["port"].toString();
        }
        QCOMPARE(ports, (QSet<QString>{link, gang.Port(1)}));
    }

    // Processes appending at once lose or interleave no line; --json prints the same objects.
    void parallelProcessesShareTheLog() {
        Gang boards({"", "", "", ""});
        const QByteArray image = RandomImage(3000, 8);
        boards.boards[0]->SetSRecords(SRecordsFor(image));
        const QString log = boards.boards[0]->FilePath("writes.jsonl");
        std::vector<std::unique_ptr<QProcess>> processes;
        for (int i = 0; i < 4; ++i) {
            processes.push_back(std::make_unique<QProcess>());
            StartCli(*processes.back(),
                     {"--json", "--quiet", "--log", log, "--port", boards.Port(i), "--kernel",
                      boards.boards[0]->kernelPath, boards.boards[0]->sRecordPath});
        }
        QSet<QString> devices;
        for (auto& process : processes) {
            const CliRun run = Finish(*process);
            QCOMPARE(run.status, 0);
            const QJsonObject printed = QJsonDocument::fromJson(run.out).object();
            QCOMPARE(printed["outcome"].toString(), QString("O.K."));
            devices << printed["device"].toString();
        }
        QCOMPARE(devices.size(), 4);
        const QList<QJsonObject> records = LogLines(log);
        QCOMPARE(records.size(), 4);
        for (const QJsonObject& record : records)
            QCOMPARE(record["sha256"].toString(),
                     QString(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex()));
    }

    // Neither a log nobody can write nor an output nobody reads stops a write.
    void writesGoOnWhateverTheOutput_data() {
        QTest::addColumn<bool>("closedOutput");
        QTest::newRow("unwritable log") << false;
        QTest::newRow("output to a closed pipe (SIGPIPE)") << true;
    }

    void writesGoOnWhateverTheOutput() {
        QFETCH(bool, closedOutput);
        SimulatedWrite write;
        write.SetSRecords(SRecordsFor(RandomImage(0x2000, 3)));
        const QString log = closedOutput ? write.FilePath("writes.jsonl")
                                         : write.FilePath("program.mot/writes.jsonl");
        const QStringList arguments = WriteArguments(write) + QStringList{"--log", log};
        QProcess process;
        if (closedOutput) {
            // As `morven-cli ... 2>&1 | head -c 0`: the reader is gone before the first line.
            process.start(
                "sh", QStringList{"-c", "\"$0\" \"$@\" 2>&1 | head -c 0", MORVEN_CLI} + arguments);
        } else {
            StartCli(process, arguments);
        }
        const CliRun run = Finish(process);
        QCOMPARE(run.status, 0);
        QCOMPARE(write.Board().CompletedWrites(), 1);
        if (closedOutput) {
            QCOMPARE(LogLines(log).size(), 1);
            QCOMPARE(LogLines(log).front()["outcome"].toString(), QString("O.K."));
        } else {
            QCOMPARE(run.err.count("cannot be written"), 1);
            QCOMPARE(run.LastLine(), QString("O.K."));
        }
    }

    // The choice of ports, on described ports (a USB adapter cannot be plugged in on CI).
    void portChoice_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("adapters");    // USB adapters present, besides /dev/ttyS0
        QTest::addColumn<QString>("chosen");  // the device, or the start of the error
        QTest::newRow("no --port, one adapter") << QStringList{} << 1 << "/dev/ttyUSB0";
        QTest::newRow("no --port, no adapter") << QStringList{} << 0 << "error: no --port given";
        QTest::newRow("no --port, two adapters") << QStringList{} << 2 << "error: no --port given";
        QTest::newRow("by serial number") << QStringList{"serial:A50285B1"} << 2 << "/dev/ttyUSB1";
        QTest::newRow("unknown serial number")
            << QStringList{"serial:NOPE"} << 2 << "error: no serial adapter plugged in has";
        QTest::newRow("serial number two adapters share")
            << QStringList{"serial:SHARED"} << 2
            << "error: serial:SHARED names 2 adapters: /dev/ttyUSB0, /dev/ttyUSB1";
        QTest::newRow("serial number and its path")
            << QStringList{"serial:A50285B0", "/dev/ttyUSB0"} << 1
            << "error: --port serial:A50285B0";
    }

    void portChoice() {
        QFETCH(QStringList, arguments);
        QFETCH(int, adapters);
        QFETCH(QString, chosen);
        QList<morven::SerialDeviceInfo> ports{{"/dev/ttyS0", true, {}, {}, {}, {}, {}}};
        for (int i = 0; i < adapters; ++i)
            ports << morven::SerialDeviceInfo{
                QString("/dev/ttyUSB%1").arg(i),
                true,
                {},
                "FT232R USB UART",
                "FTDI",
                arguments.contains("serial:SHARED") ? "SHARED" : QString("A50285B%1").arg(i),
                "0403:6001"};
        const auto choice = morven::ChoosePorts(arguments, [&ports] { return ports; });
        if (const auto* problem = std::get_if<morven::PortProblem>(&choice)) {
            const QString& error = problem->text;
            QVERIFY2(chosen.startsWith("error: ") && error.startsWith(chosen.mid(7)),
                     qPrintable(error));
            QCOMPARE(problem->absent, chosen.contains("no serial adapter"));
            if (arguments.isEmpty())
                QVERIFY(error.contains(adapters == 0 ? "none" : "/dev/ttyUSB1"));
            return;
        }
        const auto& ports_ = std::get<morven::PortChoice>(choice).ports;
        QCOMPARE(ports_.size(), 1);
        QCOMPARE(ports_.front().device, chosen);
        QCOMPARE(std::get<morven::PortChoice>(choice).note.isEmpty(), !arguments.isEmpty());
    }

    // For scripts: COM1..COM10 with their devices, then the system's ports.
    void listPortsAsJson() {
        qputenv("MORVEN_COM3", "/dev/null");
        const CliRun run = Cli({"--list-ports", "--json"});
        qunsetenv("MORVEN_COM3");
        QCOMPARE(run.status, 0);
        const QJsonObject listing = QJsonDocument::fromJson(run.out).object();
        QCOMPARE(listing["com"].toArray().size(), 10);
        QCOMPARE(listing["com"].toArray()[2].toObject()["device"].toString(), QString("/dev/null"));
        QVERIFY(listing["ports"].isArray());
    }

    void standardInputAsFile() {
        SimulatedWrite write;
        const CliRun run = Cli(WriteArguments(write, "-"), "S1050000ABCD82\n");
        QCOMPARE(run.LastLine(), QString("O.K."));
        QCOMPARE(write.Board().LastImage(), (std::vector<std::uint8_t>{0xAB, 0xCD}));
    }

    // The write ends at its current wait, the port is closed and free again at once, and the
    // program dies by the signal, as shells and xargs expect.
    void interrupted_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QByteArray>("named");
        QTest::newRow("SIGINT") << SIGINT << QByteArray("interrupted by SIGINT\n");
        QTest::newRow("SIGTERM") << SIGTERM << QByteArray("interrupted by SIGTERM\n");
        QTest::newRow("SIGHUP: the terminal went away")
            << SIGHUP << QByteArray("interrupted by SIGHUP\n");
    }

    void interrupted() {
        QFETCH(int, signal);
        QFETCH(QByteArray, named);
        SimulatedWrite write;
        write.SetSRecords(SRecordsFor(QByteArray(morven::ImageSize, '\x3C')));
        QProcess process;
        StartCli(process, WriteArguments(write));
        WaitForImageStage(process);
        ::kill(pid_t(process.processId()), signal);
        const CliRun run = Finish(process, 2000);
        QCOMPARE(run.killedBy, signal);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.endsWith(named), run.err);
        QVERIFY2(run.err.contains("hint: COM1: the board may still run the kernel: reset it"),
                 run.err);
        QCOMPARE(write.Board().CompletedWrites(), 0);

        const CliRun next = Cli(WriteArguments(write));
        QCOMPARE(next.LastLine(), QString("O.K."));
        QCOMPARE(write.Board().CompletedWrites(), 1);
    }

    void twoBoardsAtOnceAndABusyPort() {
        SimulatedWrite first(Faults("block:1=delay:500"));
        const QString firstPort = QString::fromStdString(first.Board().SlavePath());
        SimulatedWrite second;
        QProcess one, two, busy;
        const QStringList onFirst{"--port", firstPort, "--kernel", first.kernelPath,
                                  first.FilePath("program.mot")};
        StartCli(one, onFirst);
        StartCli(two, WriteArguments(second));
        WaitForImageStage(one);
        StartCli(busy, onFirst);
        const CliRun refused = Finish(busy);
        QCOMPARE(refused.status, 9);
        QVERIFY2(refused.LastLine().contains("busy"), refused.out);
        QVERIFY2(!refused.LastLine().contains("Permission"), refused.out);
        QCOMPARE(Finish(one).LastLine(), QString("O.K."));
        QCOMPARE(Finish(two).LastLine(), QString("O.K."));
        QCOMPARE(first.Board().CompletedWrites() + second.Board().CompletedWrites(), 2);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
