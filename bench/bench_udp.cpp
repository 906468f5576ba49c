// Datagrams sent to the console from loopback at 5,000 a second (1,000,000 unless a count is
// given): how many are shown, the console thread's CPU time per datagram, and the resident
// memory after the first 100,000 and at the end (the box keeps the newest lines only).
//
//   bench_udp [COUNT]
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <cstdio>

#include "frmPeerA.h"

namespace {

constexpr int PerSecond = 5000;
constexpr int MemoryMark = 100000;

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double ResidentMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').at(0).toDouble() / 1024;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Loopback only: the console's datagrams go to 127.0.0.1, never to a board.
    qputenv("PELLUX_BOARD_ADDRESS", "127.0.0.1");
    QApplication app(argc, argv);
    const int datagrams = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;
    pellux::frmPeerA console;
    if (!console.Load()) {
        std::fprintf(stderr, "%s\n", qPrintable(console.LoadError()));
        return 1;
    }
    console.show();
    // Every datagram shown ends a line of the box; an insertion may hold several.
    int shown = 0;
    double markMiB = 0;
    QTextDocument* document = console.txtOutput->document();
    QObject::connect(document, &QTextDocument::contentsChange, [&](int at, int, int added) {
        if (added <= 0) return;
        QTextCursor inserted(document);
        inserted.setPosition(at);
        inserted.setPosition(at + added, QTextCursor::KeepAnchor);
        const int before = shown;
        shown += int(inserted.selectedText().count(QChar::ParagraphSeparator));
        if (before < MemoryMark && shown >= MemoryMark) markMiB = ResidentMiB();
    });

    QThread* sender = QThread::create([datagrams] {
        QUdpSocket socket;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < datagrams; ++i) {
            while (clock.nsecsElapsed() < qint64(i) * 1000000000 / PerSecond) QThread::usleep(50);
            socket.writeDatagram(QByteArray("datagram ") + QByteArray::number(i),
                                 QHostAddress::LocalHost, pellux::ConsolePort);
        }
    });
    const double cpuBefore = ThreadCpuSeconds();
    sender->start();
    QElapsedTimer sinceLast;
    sinceLast.start();
    int lastShown = 0;
    QTimer tick;  // wakes the loop below to look at the clock when nothing arrives
    tick.start(100);
    while (shown < datagrams && (!sender->isFinished() || sinceLast.elapsed() < 2000)) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (shown != lastShown) {
            lastShown = shown;
            sinceLast.restart();
        }
    }
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    sender->wait();
    delete sender;
    const QString text = console.txtOutput->toPlainText();
    std::printf(
        "%d of %d shown (the box holds %d lines, the last \"%s\"); console thread CPU "
        "%.1f us per datagram; resident %.1f MiB after %d, %.1f MiB at the end (+%.1f)\n",
        shown, datagrams, console.txtOutput->blockCount(), qPrintable(text.section('\n', -2, -2)),
        1e6 * cpu / datagrams, markMiB, MemoryMark, ResidentMiB(), ResidentMiB() - markMiB);
    return shown == datagrams ? 0 : 1;
}
