// The time a gang of eight takes its unit numbers (lock, issue log and state, each synced),
// side by side with its floor: the same three files written and synced by hand.
//
//   bench_serial [FOLDER] [URI LEAD_URI]   (default: the current folder; it should be on the
//                                           station's disk)
//
// With URI, a line's PostgreSQL database (postgresql://station@127.0.0.1:PORT/morven), the same
// gang's values are also taken from it, interleaved with the others: one transaction, committed
// (and so synced) by the server; its connection is made once, as a run makes it. LEAD_URI's
// role makes the run's counter first.
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "serial/DatabaseLead.h"
#include "serial/DatabaseUnitNumberStore.h"
#include "serial/UnitNumberStateFile.h"

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
    morven::UnitNumberRule rule;
    rule.address = 0x5FF00;
    rule.format = std::get<morven::UnitNumberFormat>(
        morven::UnitNumberFormat::Parse(QStringLiteral("dec:8")));
    rule.start = 10000001;
    rule.statePath = dir.filePath(QStringLiteral("station.serial-state"));
    QStringList ports;
    for (int k = 1; k <= 8; ++k) ports << QStringLiteral("serial:A50285B%1").arg(k);
    auto context = morven::IssueContext::OfThisProcess();
    context.command = QCoreApplication::arguments().join(QLatin1Char(' '));
    morven::UnitNumberStateFile store;
    const QString uri = QCoreApplication::arguments().value(2);
    morven::UnitNumberRule databaseRule = rule;
    // A counter of the run's own, so that every run starts at the same value.
    const QString counter = QStringLiteral("#bench-%1").arg(QCoreApplication::applicationPid());
    databaseRule.statePath = uri + counter;
    morven::DatabaseUnitNumberStore database(databaseRule, dir.filePath(QStringLiteral("pending")));
    if (!uri.isEmpty()) {
        // The lead's role makes the counter, as on a line.
        morven::UnitNumberRule lead = databaseRule;
        lead.statePath = QCoreApplication::arguments().value(3) + counter;
        if (const auto made = morven::MakeCounter(lead, {});
            const auto* refusal = std::get_if<morven::WriteRefusal>(&made)) {
            std::fprintf(stderr, "%s\n", qPrintable(refusal->text));
            return 1;
        }
        if (const auto away = database.Connect({})) {
            std::fprintf(stderr, "%s\n", qPrintable(away->text));
            return 1;
        }
    }
    // Interleaved, so that all meet the same load on a shared machine.
    std::vector<double> take, floor, fromDatabase;
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        if (std::holds_alternative<morven::WriteRefusal>(store.Take(rule, ports, context, {})))
            std::fprintf(stderr, "refused\n");
        take.push_back(Ms(timer));
        timer.restart();
        Floor(QFile::encodeName(dir.path()));
        floor.push_back(Ms(timer));
        if (uri.isEmpty()) continue;
        timer.restart();
        if (std::holds_alternative<morven::WriteRefusal>(
                database.Take(databaseRule, ports, context, {})))
            std::fprintf(stderr, "refused by the database\n");
        fromDatabase.push_back(Ms(timer));
    }
    std::sort(take.begin(), take.end());
    std::sort(floor.begin(), floor.end());
    std::printf("%d takes of 8 values, ms: median %.2f (min %.2f, max %.2f); floor median %.2f "
                "(min %.2f, max %.2f); median ratio %.2f\n",
                Runs, take[Runs / 2], take.front(), take.back(), floor[Runs / 2], floor.front(),
                floor.back(), take[Runs / 2] / floor[Runs / 2]);
    if (uri.isEmpty()) return 0;
    std::sort(fromDatabase.begin(), fromDatabase.end());
    std::printf("  from the database: median %.2f (min %.2f, max %.2f); median ratio to the file "
                "state %.2f\n",
                fromDatabase[Runs / 2], fromDatabase.front(), fromDatabase.back(),
                fromDatabase[Runs / 2] / take[Runs / 2]);
    return 0;
}
