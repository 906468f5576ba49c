// The link primitives on the real QSerialPort, with the test holding the pty master as the target.
#include <fcntl.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include "port/SerialLink.h"
#include "port/SerialPort.h"

using morven::WaitResult;

class TestSerialLink : public QObject {
    Q_OBJECT

    int master_ = -1;
    std::unique_ptr<morven::SerialPort> port_;
    std::unique_ptr<morven::SerialLink> link_;

    void TargetSends(const QByteArray& bytes, int afterMs = 0) {
        QTimer::singleShot(afterMs, this, [this, bytes] {
            QCOMPARE(write(master_, bytes.constData(), size_t(bytes.size())), bytes.size());
        });
    }

    WaitResult Wait(quint8 expected) {
        return morven::RunToEnd(*link_, link_->WaitForByte(expected));
    }

private slots:
    void init() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0);
        qputenv("MORVEN_COM2", ptsname(master_));
        port_ = std::make_unique<morven::SerialPort>();
        link_ = std::make_unique<morven::SerialLink>(*port_);
        port_->SelectPort(2);
        QVERIFY2(port_->OpenPort(), qPrintable(port_->FailureText()));
    }

    void cleanup() {
        link_.reset();
        port_.reset();
        close(master_);
    }

    void firstByteOfABurstDecides_data() {
        QTest::addColumn<QByteArray>("burst");
        QTest::addColumn<int>("expected");
        QTest::newRow("expected byte with more behind it")
            << QByteArray("\x06\x11\x11") << int(WaitResult::Ok);
        QTest::newRow("a later byte matches")
            << QByteArray("\x15\x06") << int(WaitResult::Mismatch);
    }

    void firstByteOfABurstDecides() {
        QFETCH(QByteArray, burst);
        QFETCH(int, expected);
        TargetSends(burst, 20);
        QCOMPARE(int(Wait(0x06)), expected);
        // The rest of the burst is gone: a later byte is the only one to arrive.
        TargetSends("\x7E");
        QTRY_VERIFY_WITH_TIMEOUT(port_->InputCount() > 0, 10000);
        QCOMPARE(port_->ReadInput(), QByteArray("\x7E"));
    }

    void everyByteValuePassesBothWays() {
        const QByteArray values = QByteArray::fromHex("00115501aaff0d0a13");
        for (char value : values) link_->SendByte(static_cast<quint8>(value));
        QByteArray atTarget;
        const auto readTarget = [&] {
            char buffer[64];
            const ssize_t count = read(master_, buffer, sizeof buffer);
            if (count > 0) atTarget.append(buffer, count);
            return atTarget.size();
        };
        QTRY_VERIFY(readTarget() >= values.size());
        QCOMPARE(atTarget.toHex(), values.toHex());
        for (char value : values) {
            TargetSends(QByteArray(1, value));
            QCOMPARE(int(Wait(static_cast<quint8>(value))), int(WaitResult::Ok));
        }
    }

    void eachWaitGetsItsFullLimit() {
        TargetSends("\x06", 100);
        QCOMPARE(int(Wait(0x06)), int(WaitResult::Ok));
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(int(Wait(0x06)), int(WaitResult::Timeout));
        QVERIFY2(elapsed.elapsed() >= morven::SerialLink::ResponseLimitMs,
                 qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(link_->TimeoutFlag, quint8(1));
    }

    void lostLineEndsTheWaitAtOnce() {
        QTimer::singleShot(50, this, [this] {
            close(master_);
            master_ = -1;
        });
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(int(Wait(0x06)), int(WaitResult::LinkLost));
        QVERIFY(elapsed.elapsed() < morven::SerialLink::ResponseLimitMs);
        QVERIFY(port_->Failed());
        QVERIFY(!port_->IsOpen());
        QVERIFY(port_->FailureText().startsWith("COM2 (/dev/pts/"));
    }

    void delayKeepsInputUntouched() {
        TargetSends("\x42");
        QTRY_COMPARE_WITH_TIMEOUT(port_->InputCount(), 1, 10000);
        QVERIFY(morven::RunToEnd(*link_, link_->Delay(50)));
        QCOMPARE(port_->InputCount(), 1);
        QCOMPARE(link_->DelayDoneFlag, qint16(1));
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
