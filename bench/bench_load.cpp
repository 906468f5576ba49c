// Loads a full-image S-record file and times it against srec_cat and objcopy converting the
// same file to binary.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "write/WriteJob.h"

namespace {

constexpr int Runs = 21;

template <typename Work>
double MedianMs(Work work) {
    std::vector<double> times;
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

bool Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitCode() == 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString srecCat = QStandardPaths::findExecutable("srec_cat");
    const QString objcopy = QStandardPaths::findExecutable("objcopy");
    if (srecCat.isEmpty() || objcopy.isEmpty()) {
        std::fprintf(stderr, "bench_load needs srec_cat (srecord) and objcopy (binutils)\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString binary = dir.filePath("image.bin");
    const QString srec = dir.filePath("image.mot");
    QByteArray image(morven::ImageSize, Qt::Uninitialized);
    QRandomGenerator random(7);
    for (char& c : image) c = static_cast<char>(random.bounded(256));
    QFile out(binary);
    if (!out.open(QIODevice::WriteOnly) || out.write(image) != image.size()) return 1;
    out.close();
    if (!Run(srecCat, {binary, "-binary", "-o", srec, "-address-length=4"})) return 1;

    morven::LoadedImage loaded;
    const double ours = MedianMs([&] {
        loaded = std::get<morven::LoadedImage>(
            morven::LoadFirmwareInput({srec, std::nullopt}, [] { return false; }));
    });
    if (loaded.MaxAddress != morven::ImageSize - 1 ||
        std::memcmp(image.constData(), loaded.TargetImage.data(), image.size()) != 0) {
        std::fprintf(stderr, "bench_load: the loaded image differs from the source data\n");
        return 1;
    }
    const QString converted = dir.filePath("converted.bin");
    const double bySrecCat = MedianMs([&] { Run(srecCat, {srec, "-o", converted, "-binary"}); });
    const double byObjcopy = MedianMs([&] {
        Run(objcopy, {"-I", "srec", "-O", "binary", srec, converted});
    });

    std::printf("file: %lld bytes of S3 records for a 0x%X-byte image; median of %d runs\n",
                static_cast<long long>(QFile(srec).size()), morven::ImageSize, Runs);
    std::printf("load and report      %8.2f ms\n", ours);
    std::printf("srec_cat -> binary   %8.2f ms\n", bySrecCat);
    std::printf("objcopy  -> binary   %8.2f ms\n", byObjcopy);
    std::printf("ours / faster peer   %8.2f\n", ours / std::min(bySrecCat, byObjcopy));
    return 0;
}
