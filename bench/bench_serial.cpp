// The time a gang of eight takes its serial values (lock, issue log and state, each synced),
// side by side with its floor: the same three files written and synced by hand.
//
//   bench_serial [FOLDER]     (default: the current folder; it should be on the station's disk)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "write/SerialStateFile.h"

namespace {

constexpr int Runs = 101;

double Ms(const QElapsedTimer& timer) { return static_cast<double>(timer.nsecsElapsed()) / 1e6; }

// The floor: append a line and fdatasync it, write a new file and fsync it, rename it, fsync
// the folder, with a lock file opened, as a take does, without reading or checking anything.
void Floor(const QByteArray& folder) {
    const QByteArray lock = folder + "/floor.lock", log = folder + "/floor.issued",
                     state = folder + "/floor", temporary = folder + "/floor.new";
    const int lockFd = ::open(lock.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    const int logFd = ::open(log.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    const QByteArray line(8 * 200, 'x');
    bool ok = ::write(logFd, line.constData(), size_t(line.size())) == line.size() &&
              ::fdatasync(logFd) == 0;
    const int stateFd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    ok = ok && ::write(stateFd, line.constData(), 120) == 120 && ::fsync(stateFd) == 0;
    ::close(stateFd);
    ok = ok && ::rename(temporary.constData(), state.constData()) == 0;
    const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = ok && ::fsync(folderFd) == 0;
    ::close(folderFd);
    ::close(logFd);
    ::close(lockFd);
    if (!ok) std::perror("floor");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QCoreApplication::arguments().value(1, QStringLiteral(".")) +
                      QStringLiteral("/bench-serial-XXXXXX"));
    morven::SerialRule rule;
    rule.address = 0x5FF00;
    rule.format = std::get<morven::SerialFormat>(morven::SerialFormat::Parse(QStringLiteral("dec:8")));
    rule.start = 10000001;
    rule.statePath = dir.filePath(QStringLiteral("station.serial-state"));
    QStringList ports;
    for (int k = 1; k <= 8; ++k) ports << QStringLiteral("serial:A50285B%1").arg(k);
    const auto context = morven::IssueContext::OfThisProcess({}, QCoreApplication::arguments());
    morven::SerialStateFile store;
    // Interleaved, so that both meet the same load on a shared machine.
    std::vector<double> take, floor;
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        if (std::holds_alternative<morven::WriteRefusal>(store.Take(rule, ports, context, {})))
            std::fprintf(stderr, "refused\n");
        take.push_back(Ms(timer));
        timer.restart();
        Floor(QFile::encodeName(dir.path()));
        floor.push_back(Ms(timer));
    }
    std::sort(take.begin(), take.end());
    std::sort(floor.begin(), floor.end());
    std::printf("%d takes of 8 values, ms: median %.2f (min %.2f, max %.2f); floor median %.2f "
                "(min %.2f, max %.2f); median ratio %.2f\n",
                Runs, take[Runs / 2], take.front(), take.back(), floor[Runs / 2], floor.front(),
                floor.back(), take[Runs / 2] / floor[Runs / 2]);
}
