// 10,000 datagrams sent to the console from loopback at 5,000 a second: how many are shown and
// the console's CPU time per datagram, with an empty box and with 100,000 lines already in it.
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <cstdio>

#include "frmPeerA.h"

namespace {

constexpr int Datagrams = 10000;
constexpr int PerSecond = 5000;

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void Run(int preloadLines) {
    pellux::frmPeerA console;
    if (!console.Load()) {
        std::fprintf(stderr, "cannot bind: %s\n", qPrintable(console.BindError()));
        std::exit(1);
    }
    console.show();
    QString preload;
    for (int i = 0; i < preloadLines; ++i) preload += QStringLiteral("earlier line %1\n").arg(i);
    console.txtOutput->setPlainText(preload);
    console.txtOutput->moveCursor(QTextCursor::End);
    const int before = console.txtOutput->blockCount();

    QThread* sender = QThread::create([] {
        QUdpSocket socket;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < Datagrams; ++i) {
            while (clock.nsecsElapsed() < qint64(i) * 1000000000 / PerSecond) QThread::usleep(50);
            socket.writeDatagram(QByteArray("datagram ") + QByteArray::number(i),
                                 QHostAddress::LocalHost, pellux::ConsolePort);
        }
    });
    const double cpuBefore = ThreadCpuSeconds();
    sender->start();
    QElapsedTimer wall;
    wall.start();
    QTimer tick;  // wakes the loop below to look at the clock when nothing arrives
    tick.start(100);
    while ((!sender->isFinished() || console.udpPeerA.hasPendingDatagrams() ||
            console.txtOutput->blockCount() - before < Datagrams) &&
           wall.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    sender->wait();
    delete sender;
    const int shown = console.txtOutput->blockCount() - before;
    std::printf("%6d lines before: %d of %d shown, console thread CPU %.1f us per datagram\n",
                preloadLines, shown, Datagrams, 1e6 * cpu / Datagrams);
}

}  // namespace

int main(int argc, char** argv) {
    // Loopback only: the console's datagrams go to 127.0.0.1, never to a board.
    qputenv("PELLUX_BOARD_ADDRESS", "127.0.0.1");
    QApplication app(argc, argv);
    Run(0);
    Run(100000);
    return 0;
}
