// Takes a gang's serial values again and again, alternately from a state file (on the disk,
// synced) and from a line's PostgreSQL database (a commit the server syncs), and times each take.
//
//   bench_serial_take URI FOLDER [TAKES] [GANG]
//
// URI is the database (postgresql://station@127.0.0.1:PORT/morven), FOLDER where the state file
// goes; TAKES takes of GANG values each (default 200 of 8) from each. Prints the median, the
// 90th percentile and the slowest take of each in milliseconds, their ratio, and how long the
// database's connection took (once per run of morven-cli).
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "write/DatabaseSerialStore.h"

using namespace morven;

namespace {

double Ms(const QElapsedTimer& timer) { return double(timer.nsecsElapsed()) / 1e6; }

struct Times {
    std::vector<double> ms;
    double At(double share) {
        std::sort(ms.begin(), ms.end());
        return ms[std::min(ms.size() - 1, size_t(share * double(ms.size())))];
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: bench_serial_take URI FOLDER [TAKES] [GANG]\n");
        return 2;
    }
    const int takes = arguments.value(3, QStringLiteral("200")).toInt();
    const int gang = arguments.value(4, QStringLiteral("8")).toInt();
    QStringList ports;
    for (int board = 1; board <= gang; ++board) ports << QStringLiteral("board%1").arg(board);

    SerialRule rule;
    rule.address = 0x5FF00;
    rule.format = std::get<SerialFormat>(SerialFormat::Parse(QStringLiteral("dec:8")));
    rule.start = 10000001;
    SerialRule fileRule = rule;
    fileRule.statePath = arguments[2] + QStringLiteral("/counter");
    SerialRule databaseRule = rule;
    // A counter of this run's own: every run starts at the same value.
    databaseRule.statePath =
        arguments[1] + QStringLiteral("#bench-%1").arg(QDateTime::currentMSecsSinceEpoch());

    QElapsedTimer timer;
    timer.start();
    DatabaseSerialStore database(databaseRule, arguments[2] + QStringLiteral("/pending"),
                                 [] { return false; });
    if (const auto away = database.Connect()) {
        std::fprintf(stderr, "%s\n", qPrintable(*away));
        return 1;
    }
    const double connectMs = Ms(timer);
    const IssueContext context{ports, QStringLiteral("bench_serial_take"), {}};
    Times file, fromDatabase;
    for (int take = 0; take < takes; ++take) {
        timer.start();
        if (!std::holds_alternative<QList<SerialValue>>(TakeSerialValues(fileRule, gang))) return 1;
        file.ms.push_back(Ms(timer));
        timer.start();
        if (!std::holds_alternative<QList<SerialValue>>(database.Take(context))) return 1;
        fromDatabase.ms.push_back(Ms(timer));
    }
    std::printf("%d takes of %d values; ms median, 90th percentile, slowest\n", takes, gang);
    std::printf("  file:     %.3f %.3f %.3f\n", file.At(0.5), file.At(0.9), file.At(1));
    std::printf("  database: %.3f %.3f %.3f (connecting once: %.1f ms)\n", fromDatabase.At(0.5),
                fromDatabase.At(0.9), fromDatabase.At(1), connectMs);
    std::printf("  database / file: median %.2f, 90th percentile %.2f\n",
                fromDatabase.At(0.5) / file.At(0.5), fromDatabase.At(0.9) / file.At(0.9));
    return 0;
}
