// A whole write against the board-sim program: wall and CPU seconds of the writer.
// Usage: bench_write BOARD_SIM IMAGE_BYTES [--pace]
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>

#include "port/SerialPort.h"
#include "write/WriteFlow.h"

namespace {

struct Quiet : morven::ProgressDisplay {
    void SetProgressMaximum(morven::WriteStage, int) override {}
    void SetProgressValue(int) override {}
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_write BOARD_SIM IMAGE_BYTES [--pace]\n");
        return 2;
    }
    const int imageBytes = QByteArray(argv[2]).toInt(nullptr, 0);
    const bool pace = argc > 3 && QByteArray(argv[3]) == "--pace";
    QTemporaryDir dir;
    QProcess board;
    QStringList arguments{"--link", dir.filePath("board"), "--once"};
    if (pace) arguments << "--pace";
    board.start(argv[1], arguments);
    if (!board.waitForReadyRead(5000)) return 1;
    qputenv("MORVEN_COM1", dir.filePath("board").toUtf8());

    QByteArray text;
    QRandomGenerator random(3);
    for (int at = 0; at < imageBytes; at += 32) {
        QByteArray chunk(qMin(32, imageBytes - at), Qt::Uninitialized);
        for (char& c : chunk) c = char(random.bounded(256));
        text += "S3" + QByteArray::number(chunk.size() + 5, 16).rightJustified(2, '0') +
                QByteArray::number(at, 16).rightJustified(8, '0') + chunk.toHex() + "00\n";
    }
    const QString sRecordPath = dir.filePath("image.mot");
    QFile srec(sRecordPath);
    srec.open(QIODevice::WriteOnly);
    srec.write(text);
    srec.close();
    const QString kernelPath = dir.filePath("zididuv.bin");
    QFile kernel(kernelPath);
    kernel.open(QIODevice::WriteOnly);
    kernel.write(QByteArray(1024, '\x5A'));
    kernel.close();

    auto prepared =
        morven::PrepareWrite({sRecordPath, std::nullopt}, kernelPath, [] { return false; });
    auto* job = std::get_if<morven::WriteJob>(&prepared);
    if (!job) return 1;
    morven::SerialPort port;
    morven::SerialLink link(port);
    Quiet quiet;
    morven::WriteFlow flow(link, {QStringLiteral("COM1"), {}}, quiet, nullptr);
    port.SelectPort(1);
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = CpuSeconds();
    const morven::WriteResult result = flow.Run(*job);
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = CpuSeconds() - cpuBefore;
    board.waitForFinished(5000);

    // Wire time at 8N1: wake-up, confirmation and the echoed kernel at 19200, the image plus two
    // handshake bytes a block at 57600; the fixed pauses: the two 10 ms gaps after the length
    // bytes, the simulated kernel's 20 ms start-up, the 200 ms after the opening bytes.
    const int blocks = (imageBytes + 63) / 64;
    const double kernelWire = (4 + 1 + 1 + 1 + 2 + 2 * 1024 + 1) * 10.0 / 19200 + 0.020 + 0.020;
    const double flashWire =
        (2 + 2 + 1 + 8 + imageBytes + 2 * (blocks + 1) + 1 + 1) * 10.0 / 57600 + 0.200;
    std::printf("%s write of %d bytes (1024-byte kernel): %s\n", pace ? "paced" : "unpaced",
                imageBytes, qPrintable(result.text));
    std::printf("wall %.3f s, writer CPU %.3f s (%.2f%% of wall)\n", seconds, cpu,
                100 * cpu / seconds);
    if (pace)
        std::printf("wire time %.3f s, total / wire %.4f\n", kernelWire + flashWire,
                    seconds / (kernelWire + flashWire));
    return result.outcome == morven::WriteOutcome::Ok ? 0 : 1;
}
