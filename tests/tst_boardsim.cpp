// The simulated board driven by a plain host that talks to the pty slave with termios.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include "BoardSimulator.h"

namespace {

class PlainHost {
public:
    explicit PlainHost(const std::string& path, speed_t speed) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
        termios settings{};
        tcgetattr(fd_, &settings);
        cfmakeraw(&settings);
        cfsetspeed(&settings, speed);
        tcsetattr(fd_, TCSANOW, &settings);
    }
    ~PlainHost() {
        if (fd_ >= 0) close(fd_);
    }
    bool IsOpen() const { return fd_ >= 0; }
    void Send(const QByteArray& bytes) {
        QCOMPARE(write(fd_, bytes.constData(), static_cast<size_t>(bytes.size())), bytes.size());
    }
    // The expected number of bytes, waited for as long as a loaded machine may take, then
    // whatever more arrives until the line stays quiet for 100 ms.
    QByteArray Receive(qsizetype expected = 0) {
        QByteArray received;
        QElapsedTimer clock;
        clock.start();
        pollfd poller{fd_, POLLIN, 0};
        for (;;) {
            const qint64 waitMs =
                received.size() < expected ? std::max<qint64>(0, 10000 - clock.elapsed()) : 100;
            if (poll(&poller, 1, int(waitMs)) <= 0 || !(poller.revents & POLLIN)) break;
            char buffer[256];
            const ssize_t count = read(fd_, buffer, sizeof buffer);
            if (count <= 0) break;
            received.append(buffer, count);
        }
        return received;
    }

private:
    int fd_ = -1;
};

// Boot stage of a write with a three-byte kernel; returns what the board said at each step,
// waiting at each for as many bytes as expected says.
QByteArrayList BootStage(PlainHost& host, const QByteArrayList& expected) {
    QByteArrayList answers;
    const auto answer = [&] { answers << host.Receive(expected.value(answers.size()).size()); };
    host.Send(QByteArray(4, '\0'));
    answer();
    host.Send("\x55");
    answer();
    host.Send(QByteArray::fromHex("0003"));
    answer();
    for (char b : QByteArray::fromHex("0a0b0c")) {
        host.Send(QByteArray(1, b));
        answer();
    }
    return answers;
}

}  // namespace

class TestBoardSim : public QObject {
    Q_OBJECT

private slots:
    void faultsParse_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("phase");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("action");
        QTest::newRow("silent wake-up") << "wakeup=silent" << true << int(BoardFault::Phase::WakeUp)
                                        << 0 << int(BoardFault::Action::Silent);
        QTest::newRow("wrong kernel echo")
            << "kernel-byte:5=wrong:0x13" << true << int(BoardFault::Phase::KernelByte) << 5
            << int(BoardFault::Action::WrongByte);
        QTest::newRow("late block") << "block:2=delay:2900" << true << int(BoardFault::Phase::Block)
                                    << 2 << int(BoardFault::Action::Delay);
        QTest::newRow("dropped closing")
            << "closing=drop" << true << int(BoardFault::Phase::Closing) << 0
            << int(BoardFault::Action::Drop);
        QTest::newRow("block without number") << "block=silent" << false << 0 << 0 << 0;
        QTest::newRow("number where none belongs") << "confirm:2=silent" << false << 0 << 0 << 0;
        QTest::newRow("unknown phase") << "teardown=silent" << false << 0 << 0 << 0;
        QTest::newRow("byte out of range") << "confirm=wrong:0x100" << false << 0 << 0 << 0;
        QTest::newRow("no action") << "confirm" << false << 0 << 0 << 0;
    }

    void faultsParse() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        std::string error;
        const auto fault = ParseBoardFault(text.toStdString(), &error);
        QCOMPARE(fault.has_value(), valid);
        if (!valid) {
            QVERIFY(!error.empty());
            return;
        }
        QTEST(int(fault->phase), "phase");
        QTEST(fault->index, "index");
        QTEST(int(fault->action), "action");
    }

    void wholeWriteThenAnother() {
        QTemporaryDir dir;
        const QString imageOut = dir.filePath("image.bin");
        BoardSimulator board({.imageOutPath = imageOut.toStdString()});
        std::string error;
        QVERIFY2(board.Open(&error), error.c_str());
        board.StartInBackground();

        for (int write = 1; write <= 2; ++write) {
            {
                PlainHost host(board.SlavePath(), B19200);
                QVERIFY(host.IsOpen());
                const QByteArrayList expected{
                    QByteArray(1, '\0'),        "\xAA", QByteArray::fromHex("0003"), "\x0A", "\x0B",
                    QByteArray::fromHex("0caa")};
                QCOMPARE(BootStage(host, expected), expected);
            }
            PlainHost host(board.SlavePath(), B57600);
            host.Send("\xCC\x33");
            QCOMPARE(host.Receive(), QByteArray());
            host.Send(QByteArray::fromHex("5000"));
            QCOMPARE(host.Receive(1), QByteArray("\x06"));
            host.Send(QByteArray::fromHex("0000000000000002"));
            QCOMPARE(host.Receive(1), QByteArray("\x11"));
            host.Send(QByteArray::fromHex("111234"));
            QCOMPARE(host.Receive(1), QByteArray("\x11"));
            host.Send(QByteArray::fromHex(write == 1 ? "11b9" : "11b8"));
            QCOMPARE(host.Receive(1), QByteArray(write == 1 ? "\x06" : "\x15"));
        }
        QCOMPARE(board.CompletedWrites(), 1);
        QCOMPARE(board.LastImage(), (std::vector<std::uint8_t>{0x12, 0x34}));
        QFile written(imageOut);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll().toHex(), QByteArray("1234"));  // the bad second write left it
    }

    // A port test (open and close, nothing sent) comes before the write and does not end it.
    void onceServesTheWriteAfterAPortTest() {
        BoardSimulator board({.once = true});
        std::string error;
        QVERIFY(board.Open(&error));
        board.StartInBackground();
        {
            PlainHost portTest(board.SlavePath(), B19200);
            QTRY_VERIFY_WITH_TIMEOUT(board.HostOnLine(), 10000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(board.HangUps(), 1, 10000);
        PlainHost host(board.SlavePath(), B19200);
        QCOMPARE(BootStage(host, {QByteArray(1, '\0'), "\xAA"}).value(1), QByteArray("\xAA"));
    }

    void wrongSpeedIsGarbled() {
        BoardSimulator board({});
        std::string error;
        QVERIFY(board.Open(&error));
        board.StartInBackground();
        PlainHost host(board.SlavePath(), B57600);
        host.Send(QByteArray(4, '\0'));
        QCOMPARE(host.Receive(), QByteArray());  // complemented zeros are no wake-up
    }

    void scriptedFaults_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArrayList>("answers");
        const QByteArray zero(1, '\0');
        QTest::newRow("silent confirm")
            << "confirm=silent" << QByteArrayList{zero,   "",     QByteArray::fromHex("0003"),
                                                  "\x0A", "\x0B", QByteArray::fromHex("0caa")};
        QTest::newRow("wrong second echo")
            << "kernel-byte:2=wrong:0x99"
            << QByteArrayList{zero,   "\xAA", QByteArray::fromHex("0003"),
                              "\x0A", "\x99", QByteArray::fromHex("0caa")};
        QTest::newRow("silent kernel end")
            << "kernel-end=silent"
            << QByteArrayList{zero, "\xAA", QByteArray::fromHex("0003"), "\x0A", "\x0B", "\x0C"};
    }

    void scriptedFaults() {
        QFETCH(QString, fault);
        QFETCH(QByteArrayList, answers);
        std::string error;
        BoardSimulator board({.faults = {*ParseBoardFault(fault.toStdString(), &error)}});
        QVERIFY(board.Open(&error));
        board.StartInBackground();
        PlainHost host(board.SlavePath(), B19200);
        QCOMPARE(BootStage(host, answers), answers);
    }

    void droppedLineComesBackUnderTheLink() {
        const QString link = QDir::temp().filePath("tst_boardsim_link");
        std::string error;
        BoardSimulator board(
            {.linkPath = link.toStdString(), .faults = {*ParseBoardFault("confirm=drop", &error)}});
        QVERIFY(board.Open(&error));
        board.StartInBackground();
        const std::string first = board.SlavePath();
        PlainHost host(link.toStdString(), B19200);
        host.Send(QByteArray(4, '\0'));
        QCOMPARE(host.Receive(1), QByteArray(1, '\0'));
        host.Send("\x55");
        QCOMPARE(host.Receive(), QByteArray());
        QTRY_VERIFY(board.SlavePath() != first);
        QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromStdString(board.SlavePath()));
    }

    // Only a symbolic link is replaced: a file or folder at the path is left as it was.
    void linkNeverReplacesAFile_data() {
        QTest::addColumn<bool>("folder");
        QTest::newRow("regular file") << false;
        QTest::newRow("folder") << true;
    }

    void linkNeverReplacesAFile() {
        QFETCH(bool, folder);
        QTemporaryDir dir;
        const QString path = dir.filePath("board");
        if (folder) {
            QVERIFY(QDir().mkdir(path));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep me") == 7);
        }
        BoardSimulator board({.linkPath = path.toStdString()});
        std::string error;
        QVERIFY(!board.Open(&error));
        QVERIFY2(error.find("not a symbolic link") != std::string::npos, error.c_str());
        QCOMPARE(QFileInfo(path).isDir(), folder);
        if (!folder) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("keep me"));
        }
    }
};

QTEST_GUILESS_MAIN(TestBoardSim)
#include "tst_boardsim.moc"
