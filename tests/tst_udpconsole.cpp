// The console with real widgets and a real peer socket standing in for the board, on loopback only.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QMenu>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QUdpSocket>
#include <atomic>
#include <chrono>
#include <thread>

#include "ArrivalText.h"
#include "BoardAddress.h"
#include "ShiftJis.h"
#include "Translations.h"
#include "frmPeerA.h"

using pellux::frmPeerA;

namespace {

// A log line's time and sender, then what it holds.
const QRegularExpression LogEntry(
    R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (127\.0\.0\.1:\d+ (text|hex) |- lost )(.*)$)");

QByteArray Numbered(int i) { return "datagram " + QByteArray::number(i).rightJustified(8, '0'); }

// Sends count numbered datagrams to the console from a thread of its own, perSecond of them
// a second (0: as fast as the socket takes them).
std::thread Flood(int count, int perSecond, const QByteArray& padding) {
    return std::thread([=] {
        QUdpSocket chatty;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            if (perSecond > 0)
                std::this_thread::sleep_until(
                    start + std::chrono::microseconds(qint64(i) * 1000000 / perSecond));
            chatty.writeDatagram(Numbered(i) + padding, QHostAddress::LocalHost,
                                 pellux::ConsolePort);
        }
    });
}

// Sends numbered datagrams to the console from a thread of its own until stop, as fast as the
// socket takes them.
std::thread FloodUntil(const std::atomic<bool>& stop, const QByteArray& padding = {}) {
    return std::thread([&stop, padding] {
        QUdpSocket chatty;
        for (int i = 0; !stop; ++i)
            chatty.writeDatagram(Numbered(i) + padding, QHostAddress::LocalHost,
                                 pellux::ConsolePort);
    });
}

// The program itself, with PELLUX_LOG naming log.
void StartPellux(QProcess& pellux, const QString& log) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PELLUX_LOG", log);
    pellux.setProcessEnvironment(environment);
    pellux.start(PELLUX, {});
}

// Sends the signal and waits for the end, with a bound that only guards against a hang: "signal
// N", "status N", or "still running" (then killed).
QString EndBy(QProcess& pellux, int signal) {
    ::kill(pid_t(pellux.processId()), signal);
    if (!pellux.waitForFinished(10000)) {
        pellux.kill();
        pellux.waitForFinished();
        return "still running";
    }
    return QString(pellux.exitStatus() == QProcess::CrashExit ? "signal %1" : "status %1")
        .arg(pellux.exitCode());
}

QList<QByteArray> Lines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.last().isEmpty()) lines.removeLast();
    return lines;
}

// What a log says: the numbered datagrams in the order logged, and the drops it counted.
struct LogTally {
    QList<int> numbers;
    qint64 lost = 0;
    QList<QByteArray> malformed;
};

LogTally Tally(const QString& path) {
    LogTally tally;
    for (const QByteArray& line : Lines(path)) {
        const auto match = LogEntry.match(QString::fromUtf8(line));
        if (!match.hasMatch()) {
            tally.malformed << line;
        } else if (match.captured(1) == "- lost ") {
            tally.lost += match.captured(3).section(' ', 0, 0).toLongLong();
        } else if (match.captured(3).startsWith("datagram ")) {
            tally.numbers << match.captured(3).mid(9, 8).toInt();
        }
    }
    return tally;
}

}  // namespace

class TestUdpConsole : public QObject {
    Q_OBJECT

    QUdpSocket board_;
    std::unique_ptr<frmPeerA> console_;
    QStringList errors_;

    QList<QByteArray> ReceivedByBoard(int count) {
        QList<QByteArray> payloads;
        while (payloads.size() < count) {
            if (!board_.hasPendingDatagrams() && !board_.waitForReadyRead(2000)) break;
            while (board_.hasPendingDatagrams()) payloads << board_.receiveDatagram().data();
        }
        return payloads;
    }

    void SendToConsole(QUdpSocket& from, const QByteArray& payload) {
        QCOMPARE(from.writeDatagram(payload, QHostAddress::LocalHost, pellux::ConsolePort),
                 payload.size());
    }

private slots:
    void initTestCase() {
        // As the program does: under a Japanese locale too, the window keeps its own words.
        common::LoadTranslations(QStringLiteral("pellux"));
        // The run with the accessibility bridge on must have it on.
        if (qEnvironmentVariableIsSet("QT_LINUX_ACCESSIBILITY_ALWAYS_ON")) {
            frmPeerA probe;
            probe.show();
            QTRY_VERIFY(QAccessible::isActive());
        }
        // Never the board's own address: every datagram here stays on loopback.
        qputenv("PELLUX_BOARD_ADDRESS", "127.0.0.1");
        QCOMPARE(pellux::ConfiguredBoardAddress(), QString("127.0.0.1"));
        QVERIFY(board_.bind(QHostAddress::LocalHost, pellux::BoardPort));
    }

    void init() {
        console_ = std::make_unique<frmPeerA>();
        console_->SetErrorReporter([this](const QString& text) { errors_ << text; });
        QVERIFY2(console_->Load(), qPrintable(console_->LoadError()));
        console_->show();
        errors_.clear();
    }

    void cleanup() {
        console_.reset();
        while (board_.hasPendingDatagrams()) board_.receiveDatagram();
    }

    void layoutAsDrawn() {
        QCOMPARE(console_->windowTitle(), QString("UDP Test"));
        QCOMPARE(console_->size(), QSize(187, 169));
        QCOMPARE(console_->Command1->text(), QString("バイナリ送信"));
        QCOMPARE(console_->Command2->text(), QString("テキストクリア"));
        QCOMPARE(console_->Command2->geometry(), QRect(80, 152, 105, 15));
        QCOMPARE(console_->txtOutput->geometry(), QRect(0, 56, 185, 65));
    }

    void patternTwiceGivesTwoIdenticalDatagrams() {
        QTest::mouseClick(console_->Command1, Qt::LeftButton);
        QTest::mouseClick(console_->Command1, Qt::LeftButton);
        const auto payloads = ReceivedByBoard(2);
        QCOMPARE(payloads.size(), 2);
        QCOMPARE(payloads[0], payloads[1]);
        QCOMPARE(payloads[0].size(), 513);
        QCOMPARE(payloads[0][0], ' ');
        QCOMPARE(payloads[0][94], '~');
        QCOMPARE(payloads[0][95], ' ');
        QCOMPARE(payloads[0][512], '\x45');
    }

    void everyEditSendsTheWholeText_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("backspaces");
        QTest::addColumn<QList<QByteArray>>("expected");
        QTest::newRow("abc") << "abc" << 0 << QList<QByteArray>{"a", "ab", "abc"};
        QTest::newRow("delete the last character") << "x" << 1 << QList<QByteArray>{"x", ""};
        QTest::newRow("full-width characters")
            << "日本" << 0
            << QList<QByteArray>{QByteArray("\x93\xfa"), QByteArray("\x93\xfa\x96\x7b")};
        QTest::newRow("wave dash from a Linux input method")
            << "〜" << 0 << QList<QByteArray>{QByteArray("\x81\x60")};
    }

    void everyEditSendsTheWholeText() {
        QFETCH(QString, typed);
        QFETCH(int, backspaces);
        QFETCH(QList<QByteArray>, expected);
        for (QChar c : typed) {
            if (c.unicode() < 0x80) {
                QTest::keyClicks(console_->txtSend, QString(c));
            } else {  // as an input method commits it
                QInputMethodEvent commit;
                commit.setCommitString(QString(c));
                QApplication::sendEvent(console_->txtSend, &commit);
            }
        }
        for (int i = 0; i < backspaces; ++i) QTest::keyClick(console_->txtSend, Qt::Key_Backspace);
        QCOMPARE(ReceivedByBoard(int(expected.size())), expected);
    }

    void arrivalsAreShownOnePerLine_data() {
        QTest::addColumn<QList<QByteArray>>("payloads");
        QTest::addColumn<QString>("shown");
        QTest::newRow("two lines") << QList<QByteArray>{"one", "two"} << "one\ntwo\n";
        QTest::newRow("payload ending in CR LF") << QList<QByteArray>{"one\r\n"} << "one\n\n";
        QTest::newRow("empty payload") << QList<QByteArray>{""} << "\n";
        QTest::newRow("Shift-JIS") << QList<QByteArray>{"\x83\x65\x83\x58\x83\x67"} << "テスト\n";
        QTest::newRow("zero byte and broken byte")
            << QList<QByteArray>{QByteArray("a\0b\x81", 4)} << "a\u2400b\uFFFD\n";
    }

    void arrivalsAreShownOnePerLine() {
        QFETCH(QList<QByteArray>, payloads);
        QFETCH(QString, shown);
        for (const QByteArray& payload : payloads) SendToConsole(board_, payload);
        QTRY_COMPARE(console_->txtOutput->toPlainText(), shown);
    }

    void arrivalGoesToTheCaretOrReplacesTheSelection() {
        SendToConsole(board_, "first");
        QTRY_COMPARE(console_->txtOutput->toPlainText(), QString("first\n"));
        QTextCursor cursor = console_->txtOutput->textCursor();
        cursor.setPosition(1);
        cursor.setPosition(3, QTextCursor::KeepAnchor);  // "ir" selected
        console_->txtOutput->setTextCursor(cursor);
        SendToConsole(board_, "X");
        QTRY_COMPARE(console_->txtOutput->toPlainText(), QString("fX\nst\n"));
        cursor = console_->txtOutput->textCursor();
        cursor.setPosition(0);
        console_->txtOutput->setTextCursor(cursor);
        SendToConsole(board_, "Y");
        QTRY_COMPARE(console_->txtOutput->toPlainText(), QString("Y\nfX\nst\n"));
    }

    void clearThenReceive() {
        SendToConsole(board_, "old");
        QTRY_VERIFY(!console_->txtOutput->toPlainText().isEmpty());
        QTest::mouseClick(console_->Command2, Qt::LeftButton);
        QCOMPARE(console_->txtOutput->toPlainText(), QString());
        SendToConsole(board_, "new");
        QTRY_COMPARE(console_->txtOutput->toPlainText(), QString("new\n"));
    }

    void datagramFromAnotherSender() {
        QUdpSocket stranger;
        QVERIFY(stranger.bind(QHostAddress::LocalHost, 0));
        SendToConsole(stranger, "hello");
        QTRY_COMPARE(console_->txtOutput->toPlainText(), QString("hello\n"));
    }

    // The board's address may be a name or either kind of literal; one that cannot be used is
    // refused at start, naming the value.
    void boardAddress_data() {
        QTest::addColumn<QString>("configured");
        QTest::addColumn<QString>("peer");  // the loopback address the board listens on; "" refused
        QTest::newRow("host name") << "localhost"
                                   << "127.0.0.1";
        QTest::newRow("IPv6 literal") << "::1"
                                      << "::1";
        QTest::newRow("unresolvable name") << "board.invalid"
                                           << "";
        QTest::newRow("unspecified address") << "0.0.0.0"
                                             << "";
    }

    void boardAddress() {
        QFETCH(QString, configured);
        QFETCH(QString, peer);
        console_.reset();
        QUdpSocket ipv6Board;
        if (peer == "::1" && !ipv6Board.bind(QHostAddress(peer), pellux::BoardPort))
            QSKIP("this machine has no IPv6 loopback address");
        QUdpSocket& board = peer == "::1" ? ipv6Board : board_;
        qputenv("PELLUX_BOARD_ADDRESS", configured.toUtf8());
        frmPeerA console;
        const bool loaded = console.Load();
        qputenv("PELLUX_BOARD_ADDRESS", "127.0.0.1");
        QCOMPARE(loaded, !peer.isEmpty());
        if (!loaded) {
            QVERIFY2(console.LoadError().contains("\"" + configured + "\" cannot be used"),
                     qPrintable(console.LoadError()));
            return;
        }
        QTest::mouseClick(console.Command1, Qt::LeftButton);
        QVERIFY(board.waitForReadyRead(2000));
        QCOMPARE(board.receiveDatagram().data().size(), 513);
    }

    // The box keeps the newest lines only: memory stays flat however long the console runs.
    void outputKeepsTheNewestLines() {
        const int lines = pellux::OutputLineLimit + 50;
        // In batches the console keeps up with: the socket's buffer must not overflow.
        for (int i = 0; i < lines; ++i) {
            SendToConsole(board_, QByteArray::number(i));
            if (i % 100 == 99 || i == lines - 1)
                QTRY_VERIFY(console_->txtOutput->toPlainText().endsWith(QString::number(i) + "\n"));
        }
        QVERIFY(console_->txtOutput->blockCount() <= pellux::OutputLineLimit);
        QVERIFY(!console_->txtOutput->toPlainText().startsWith("0\n"));
    }

    // A board that floods the console leaves the window answering: Clear works while the
    // datagrams still pour in, and what arrives after it is shown, in order. The flood goes on
    // until the test has seen that (ten seconds at most): a console that answered only once it
    // ended would click Clear too late.
    void clearWorksDuringAFlood() {
        std::atomic<bool> stop = false;
        std::atomic<bool> floodOver = false;
        std::thread flood([&] {
            QUdpSocket chatty;
            QElapsedTimer clock;
            clock.start();
            // Long lines: the console takes longer over each than the sender does.
            const QByteArray padding(1000, 'x');
            for (qint64 i = 0; !stop && clock.elapsed() < 10000; ++i)
                chatty.writeDatagram(QByteArray::number(i) + ' ' + padding, QHostAddress::LocalHost,
                                     pellux::ConsolePort);
            floodOver = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(console_->txtOutput->blockCount() > 100, 15000);
        bool clearedDuringFlood = false;
        QTimer::singleShot(0, console_->Command2, [&] {
            QTest::mouseClick(console_->Command2, Qt::LeftButton);
            clearedDuringFlood = !floodOver;
        });
        QTRY_VERIFY_WITH_TIMEOUT(clearedDuringFlood || floodOver, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(console_->txtOutput->blockCount() > 10 || floodOver, 15000);
        stop = true;
        flood.join();
        QVERIFY(clearedDuringFlood);
        // Numbers arrive in order: a batch boundary neither repeats nor reorders them. An
        // unpaced flood outruns any reader; the kernel's drops are shown as lines of their own.
        QStringList lines = console_->txtOutput->toPlainText().split('\n', Qt::SkipEmptyParts);
        lines.removeIf([](const QString& line) {
            return line.endsWith("could be read") || line.endsWith("too many at once");
        });
        QVERIFY(lines.size() > 10);
        for (qsizetype i = 2; i < lines.size(); ++i)
            QVERIFY(lines[i].split(' ')[0].toLongLong() > lines[i - 1].split(' ')[0].toLongLong());
    }

    void secondConsoleCannotBind() {
        frmPeerA second;
        QVERIFY(!second.Load());
        QVERIFY2(second.LoadError().startsWith("Cannot bind UDP port 10002"),
                 qPrintable(second.LoadError()));
    }

    void refusedSendIsReportedAndTheConsoleGoesOn() {
        SendToConsole(board_, "kept");
        QTRY_COMPARE(console_->txtOutput->toPlainText(), QString("kept\n"));
        QUdpSocket ipv6Peer;
        if (!ipv6Peer.bind(QHostAddress::LocalHostIPv6, 0))
            QSKIP("this machine has no IPv6 loopback address");
        console_.reset();
        // An IPv4 address in IPv6 form: the console's IPv6-only socket refuses to send to it
        // before anything leaves the machine.
        qputenv("PELLUX_BOARD_ADDRESS", "::ffff:127.0.0.1");
        init();
        qputenv("PELLUX_BOARD_ADDRESS", "127.0.0.1");
        QTest::mouseClick(console_->Command1, Qt::LeftButton);
        QCOMPARE(errors_.size(), 1);
        QVERIFY(!errors_.front().isEmpty());
        QCOMPARE(
            ipv6Peer.writeDatagram("still here", QHostAddress::LocalHostIPv6, pellux::ConsolePort),
            10);
        QTRY_COMPARE(console_->txtOutput->toPlainText(), QString("still here\n"));
    }

    void oversizeTextIsNotSent() {
        console_->txtSend->setMaxLength(100000);
        console_->txtSend->setText(QString(pellux::LargestDatagram + 1, 'a'));
        QCOMPARE(ReceivedByBoard(1), QList<QByteArray>{});
        QVERIFY(!console_->txtSend->styleSheet().isEmpty());
        QVERIFY(errors_.isEmpty());
        console_->txtSend->setText("ok");
        QCOMPARE(ReceivedByBoard(1), QList<QByteArray>{"ok"});
        QVERIFY(console_->txtSend->styleSheet().isEmpty());
    }

    // Each datagram is one line of the log: its arrival time, its sender, and its text or, when
    // it is no text, its bytes in hex.
    void logLines_data() {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("logged");
        QTest::newRow("text") << QByteArray("t=12 adc=512") << "text t=12 adc=512";
        QTest::newRow("line ends and a backslash") << QByteArray("a\\b\r\n") << "text a\\\\b\\r\\n";
        QTest::newRow("Shift-JIS") << QByteArray("\x83\x65\x83\x58\x83\x67") << "text テスト";
        QTest::newRow("empty") << QByteArray() << "text ";
        QTest::newRow("binary") << QByteArray("\x00\xff\x41", 3) << "hex 00 ff 41";
        QTest::newRow("broken Shift-JIS") << QByteArray("ok\x81") << "hex 6f 6b 81";
    }

    void logLines() {
        QFETCH(QByteArray, payload);
        QFETCH(QString, logged);
        QTemporaryDir dir;
        const QString path = dir.filePath("board.log");
        QVERIFY(console_->StartLog(path));
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        SendToConsole(board_, payload);
        QTRY_COMPARE(Lines(path).size(), 1);
        const QString line = QString::fromUtf8(Lines(path)[0]);
        const auto match = LogEntry.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QCOMPARE(match.captured(1), QString("127.0.0.1:%1 ").arg(board_.localPort()) +
                                        logged.section(' ', 0, 0) + ' ');
        QCOMPARE(match.captured(2) + ' ' + match.captured(3), logged);
        const QDateTime at = QDateTime::fromString(line.section(' ', 0, 0), Qt::ISODateWithMs);
        QVERIFY(at.toMSecsSinceEpoch() >= before - 1);
        QVERIFY(at.toMSecsSinceEpoch() <= QDateTime::currentMSecsSinceEpoch());
    }

    // The log is appended to; one that cannot be kept is refused, naming the file, from the menu
    // and from PELLUX_LOG at start alike.
    void logOpening_data() {
        QTest::addColumn<QByteArray>("existing");  // what the file holds before; "/" a folder
        QTest::addColumn<bool>("fromEnvironment");
        QTest::addColumn<QString>("refusal");  // empty: kept
        QTest::newRow("after whole lines") << QByteArray("old\n") << false << "";
        QTest::newRow("after a cut line") << QByteArray("old") << false << "";
        QTest::newRow("from the environment") << QByteArray("old\n") << true << "";
        QTest::newRow("a folder") << QByteArray("/") << false << "Is a directory";
        QTest::newRow("a folder, from the environment")
            << QByteArray("/") << true << "Is a directory";
    }

    void logOpening() {
        QFETCH(QByteArray, existing);
        QFETCH(bool, fromEnvironment);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const QString path = dir.filePath("board.log");
        if (existing == "/") {
            QVERIFY(QDir(dir.path()).mkdir("board.log"));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(existing);
        }
        const QString expectedError = QString("Cannot log to \"%1\": %2").arg(path, refusal);
        if (fromEnvironment) {
            console_.reset();
            qputenv("PELLUX_LOG", path.toUtf8());
            console_ = std::make_unique<frmPeerA>();
            const bool loaded = console_->Load();
            qunsetenv("PELLUX_LOG");
            QCOMPARE(loaded, refusal.isEmpty());
            if (!loaded) {
                QCOMPARE(console_->LoadError(), expectedError);
                return;
            }
        } else if (!console_->StartLog(path)) {
            QCOMPARE(errors_, QStringList{expectedError});
            QVERIFY(!console_->LogToFile->isChecked());
            return;
        }
        QVERIFY(refusal.isEmpty());
        QVERIFY(console_->LogToFile->isChecked());
        SendToConsole(board_, "new");
        QTRY_COMPARE(Lines(path).size(), 2);
        QCOMPARE(Lines(path)[0], existing.chopped(existing.endsWith('\n') ? 1 : 0));
        QVERIFY(Lines(path)[1].endsWith(" text new"));
    }

    // The received box's context menu keeps the log and shows the times of arrival.
    void outputMenu() {
        emit console_->txtOutput->customContextMenuRequested(QPoint(5, 5));
        QMenu* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QVERIFY(menu->actions().contains(console_->LogToFile));
        QVERIFY(menu->actions().contains(console_->ShowArrivalTimes));
        QCOMPARE(console_->LogToFile->text(), QString("Log to file…"));
        QCOMPARE(console_->ShowArrivalTimes->text(), QString("Show arrival times"));
        menu->close();

        QTemporaryDir dir;
        const QString path = dir.filePath("board.log");
        console_->SetLogFileChooser([&] { return path; });
        console_->LogToFile->trigger();
        QCOMPARE(console_->LogPath(), path);
        console_->ShowArrivalTimes->trigger();
        SendToConsole(board_, "timed");
        QTRY_COMPARE(Lines(path).size(), 1);
        const QString time = QString::fromUtf8(Lines(path)[0]).section(' ', 0, 0);
        QTRY_COMPARE(console_->txtOutput->toPlainText(), time + " timed\n");
        console_->LogToFile->trigger();  // checked: ends the log
        QVERIFY(console_->LogPath().isEmpty());
        console_->ShowArrivalTimes->trigger();
        SendToConsole(board_, "untimed");
        QTRY_VERIFY(console_->txtOutput->toPlainText().endsWith("\nuntimed\n"));
        QCOMPARE(Lines(path).size(), 1);
    }

    // Every datagram is logged, in order, while the window goes on; what the kernel drops when
    // a burst outruns the socket's buffer is counted, in the log and in the window; and the
    // console still reads afterwards.
    void floodIsLoggedInOrder_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("perSecond");
        QTest::addColumn<QByteArray>("padding");
        QTest::addColumn<bool>("overflows");
        QTest::addColumn<bool>("boxHoldsAll");  // fewer lines than the box keeps
        QTest::newRow("5,000 a second") << 10000 << 5000 << QByteArray() << false << false;
        QTest::newRow("a burst the buffer holds") << 5000 << 0 << QByteArray() << false << true;
        QTest::newRow("a burst that overflows the buffer")
            << 20000 << 0 << QByteArray(1400, 'x') << true << false;
    }

    void floodIsLoggedInOrder() {
        QFETCH(int, count);
        QFETCH(int, perSecond);
        QFETCH(QByteArray, padding);
        QFETCH(bool, overflows);
        QFETCH(bool, boxHoldsAll);
        QTemporaryDir dir;
        const QString path = dir.filePath("board.log");
        QVERIFY(console_->StartLog(path));
        // A burst that must overflow comes while the reader is held: 28 MB of datagrams are more
        // than any buffer the console gets (20 MiB at most), however fast this machine reads.
        console_->HoldReading(overflows);
        std::thread flood = Flood(count, perSecond, padding);
        flood.join();
        console_->HoldReading(false);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const LogTally tally = Tally(path);
                return tally.numbers.size() + tally.lost >= count;
            }(),
            30000);
        const LogTally tally = Tally(path);
        QCOMPARE(tally.malformed, QList<QByteArray>{});
        QCOMPARE(tally.numbers.size() + tally.lost, qint64(count));
        QCOMPARE(tally.lost > 0, overflows);
        QVERIFY(std::is_sorted(tally.numbers.begin(), tally.numbers.end()));
        QVERIFY(std::adjacent_find(tally.numbers.begin(), tally.numbers.end()) ==
                tally.numbers.end());
        // The log is written as datagrams are read; the window shows them at its next frame.
        QTRY_COMPARE(console_->txtOutput->toolTip().section('\n', 0, 0),
                     overflows ? pellux::LostText(quint64(tally.lost)) : QString());
        // Still reading, and the box is still in step with the log.
        SendToConsole(board_, "one more");
        QTRY_VERIFY_WITH_TIMEOUT(console_->txtOutput->toPlainText().endsWith("\none more\n"),
                                 10000);
        QVERIFY(Lines(path).last().endsWith(" text one more"));
        QCOMPARE(console_->txtOutput->toPlainText().contains("could be read\n"), overflows);
        if (!boxHoldsAll) return;
        // A frame shows the newest datagrams it has, and counts the older ones it has no room
        // for: in order, and every one accounted for.
        QList<int> shown;
        qint64 counted = 0;
        for (const QString& line : console_->txtOutput->toPlainText().split('\n')) {
            if (line.startsWith("datagram "))
                shown << line.mid(9, 8).toInt();
            else if (line.endsWith(" not shown: too many at once"))
                counted += line.section(' ', 0, 0).toLongLong();
        }
        QVERIFY(std::is_sorted(shown.begin(), shown.end()));
        QCOMPARE(shown.size() + counted, qint64(count));
    }

    // A kill during a flood leaves whole lines; SIGINT, SIGTERM and SIGHUP end the console after
    // its reader has logged what it held, and by that signal.
    void killLeavesWholeLines_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGKILL") << int(SIGKILL);
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    void killLeavesWholeLines() {
        QFETCH(int, signal);
        console_.reset();
        QTemporaryDir dir;
        const QString path = dir.filePath("board.log");
        QProcess pellux;
        StartPellux(pellux, path);
        QVERIFY(pellux.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 10000);
        std::atomic<bool> stop = false;
        std::thread flood = FloodUntil(stop);
        QTRY_VERIFY_WITH_TIMEOUT(Lines(path).size() > 2000, 10000);
        ::kill(pid_t(pellux.processId()), signal);
        const bool ended = pellux.waitForFinished(10000);
        stop = true;
        flood.join();
        QVERIFY(ended);
        QCOMPARE(pellux.exitStatus(), QProcess::CrashExit);
        QCOMPARE(pellux.exitCode(), signal);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().endsWith('\n'));
        const LogTally tally = Tally(path);
        QCOMPARE(tally.malformed, QList<QByteArray>{});
        QVERIFY(std::is_sorted(tally.numbers.begin(), tally.numbers.end()));
    }

    // A log nobody takes lines from (a FIFO whose reader stopped reading) never stops the
    // console: it goes on showing what arrives, counts what the log had no room for, and a
    // signal ends it at once.
    void stalledLogNeverStopsTheConsole() {
        QTemporaryDir dir;
        const QString path = dir.filePath("board.fifo");
        const QByteArray name = QFile::encodeName(path);
        QCOMPARE(mkfifo(name.constData(), 0600), 0);
        // Open for reading, never read; the probe tells when the pipe takes no more.
        const int stalled = open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const int probe = open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        const auto closeBoth = qScopeGuard([&] {
            close(probe);
            close(stalled);
        });
        QVERIFY(stalled >= 0 && probe >= 0);
        const auto full = [probe] { return write(probe, "\n", 1) < 0 && errno == EAGAIN; };

        QVERIFY(console_->StartLog(path));
        std::atomic<bool> stop = false;
        std::thread flood = FloodUntil(stop, QByteArray(1000, 'x'));
        const auto endFlood = qScopeGuard([&] {
            stop = true;
            if (flood.joinable()) flood.join();
        });
        QTRY_VERIFY_WITH_TIMEOUT(console_->txtOutput->toolTip().contains(" not logged: "), 30000);
        stop = true;
        flood.join();
        // Still shown as they come; sent until seen, as the flood may have left the socket's
        // buffer full. The count of its frame may follow it, or not when the queue had room for
        // its short line.
        const auto oneMoreShown = [this] {
            board_.writeDatagram("one more", QHostAddress::LocalHost, pellux::ConsolePort);
            QTextBlock last = console_->txtOutput->document()->lastBlock().previous();
            if (last.text().endsWith(" not logged: the log fell behind")) last = last.previous();
            return last.text() == "one more";
        };
        QTRY_VERIFY_WITH_TIMEOUT(oneMoreShown(), 20000);
        QVERIFY(
            !console_->txtOutput->document()->find(" not logged: the log fell behind").isNull());
        QCOMPARE(errors_, QStringList{});
        console_.reset();

        // The program itself, its log's pipe full again, ends by SIGTERM.
        char buffer[65536];
        while (read(stalled, buffer, sizeof buffer) > 0) {
        }
        QProcess pellux;
        StartPellux(pellux, path);
        QVERIFY(pellux.waitForStarted());
        stop = false;
        flood = FloodUntil(stop, QByteArray(1000, 'x'));
        QTRY_VERIFY_WITH_TIMEOUT(full(), 20000);
        QCOMPARE(EndBy(pellux, SIGTERM), QString("signal %1").arg(SIGTERM));
    }

    // What stops the start is said on standard error as well as in its message box, and a
    // signal ends the console while the box is up.
    void signalEndsTheStartError_data() {
        QTest::addColumn<bool>("portHeld");  // by this test's console
        QTest::addColumn<QString>("says");
        QTest::newRow("the port is held") << true << "pellux: Cannot bind UDP port 10002: ";
        QTest::newRow("a log that cannot be opened")
            << false << "pellux: Cannot log to \"%1\": Is a directory";
    }

    void signalEndsTheStartError() {
        QFETCH(bool, portHeld);
        QFETCH(QString, says);
        if (!portHeld) console_.reset();
        QTemporaryDir dir;  // a folder: no log
        QProcess pellux;
        StartPellux(pellux, dir.path());
        QVERIFY(pellux.waitForStarted());
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += pellux.readAllStandardError())
                                     .contains(says.replace("%1", dir.path()).toUtf8()),
                                 10000);
        QCOMPARE(EndBy(pellux, SIGTERM), QString("signal %1").arg(SIGTERM));
    }
};

QTEST_MAIN(TestUdpConsole)
#include "tst_udpconsole.moc"
