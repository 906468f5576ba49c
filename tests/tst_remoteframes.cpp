// The frames of a remote write on the ssh channel: the same frames however the stream is split,
// and a stream that is not one broken at once, never read further nor held without bound.
#include <QSet>
#include <QTest>
#include <algorithm>

#include "write/RemoteFrames.h"

using morven::RemoteCode;
using morven::RemoteFrame;
using morven::RemoteFrameReader;
using morven::WriteOutcome;
using morven::WriteStage;

namespace {

// Each value's code, from the first to the last; -1 where the table has none, or more than one.
template <typename Enum, size_t N>
QList<qint32> CodesOf(const RemoteCode<Enum> (&table)[N], Enum last) {
    QList<qint32> codes;
    for (int i = 0; i <= int(last); ++i) {
        const auto isThis = [i](const RemoteCode<Enum>& row) { return int(row.value) == i; };
        const auto row = std::find_if(std::begin(table), std::end(table), isThis);
        const bool once = std::count_if(std::begin(table), std::end(table), isThis) == 1;
        codes << (once ? row->code : -1);
    }
    return codes;
}

// Every value has a code, and no code is given twice.
bool AllGivenOnce(const QList<qint32>& codes) {
    return !codes.contains(-1) && QSet<qint32>(codes.cbegin(), codes.cend()).size() == codes.size();
}

// What the progress frames show.
struct ShownStage : morven::ProgressDisplay {
    std::optional<WriteStage> stage;
    void SetProgressMaximum(WriteStage shown, int) override { stage = shown; }
    void SetProgressValue(int) override {}
};

QList<RemoteFrame> Read(const QList<QByteArray>& parts, bool* broken) {
    RemoteFrameReader reader;
    QList<RemoteFrame> frames;
    for (const QByteArray& part : parts) {
        reader.Add(part);
        while (const auto frame = reader.Next()) frames << *frame;
    }
    *broken = reader.Broken();
    return frames;
}

}  // namespace

class TestRemoteFrames : public QObject {
    Q_OBJECT

private slots:
    void stream_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("frames");
        QTest::addColumn<bool>("broken");
        const morven::RemoteRequest request{"/dev/ttyUSB0", "firmware.elf", "0001",
                                            QByteArray(70000, '\xFF'), QByteArray(291, 'Z')};
        const morven::RemoteResult result{morven::WriteOutcome::Ok, 0, "O.K.", 72.5, {}};
        QTest::newRow("request") << request.Frame().Encoded() << 1 << false;
        QTest::newRow("progress and result")
            << morven::MaximumFrame(morven::WriteStage::Image, 393216).Encoded() +
                   morven::ValueFrame(1966).Encoded() + result.Frame().Encoded()
            << 3 << false;
        QTest::newRow("unknown type")
            << morven::ValueFrame(1).Encoded() + QByteArray::fromHex("5800000000") << 1 << true;
        QTest::newRow("longer than the limit") << QByteArray::fromHex("5200300000") << 0 << true;
    }

    void stream() {
        QFETCH(QByteArray, stream);
        QFETCH(int, frames);
        QFETCH(bool, broken);
        bool wasBroken = false;
        const QList<RemoteFrame> whole = Read({stream}, &wasBroken);
        QCOMPARE(whole.size(), frames);
        QCOMPARE(wasBroken, broken);
        for (qsizetype at = 1; at < stream.size(); at += 1 + at / 64) {
            const QList<RemoteFrame> split = Read({stream.left(at), stream.mid(at)}, &wasBroken);
            QCOMPARE(split.size(), frames);
            QCOMPARE(wasBroken, broken);
            for (qsizetype i = 0; i < split.size(); ++i)
                QVERIFY(split[i].type == whole[i].type && split[i].payload == whole[i].payload);
        }
    }

    // Values come back as they went; a payload cut short or with bytes to spare is refused.
    void values() {
        const morven::RemoteRequest request{"/dev/ttyUSB0", "firmware.elf", "0001",
                                            QByteArray("\x01\xFF"), QByteArray("ZZ")};
        const auto back = morven::RemoteRequest::From(request.Frame());
        QVERIFY(back && back->device == request.device && back->image == request.image &&
                back->kernel == request.kernel && back->unitNumber == request.unitNumber);
        RemoteFrame cut = request.Frame();
        cut.payload.chop(1);
        QVERIFY(!morven::RemoteRequest::From(cut));
        RemoteFrame longer = request.Frame();
        longer.payload += '\0';
        QVERIFY(!morven::RemoteRequest::From(longer));
        morven::RemoteResult result{
            morven::WriteOutcome::FlashTimedOut, 7, "Time Out S File Err", 3.25, {}};
        result.device.adapterSerial = "A50285BI";
        const auto resultBack = morven::RemoteResult::From(result.Frame());
        QVERIFY(resultBack && resultBack->outcome == result.outcome && resultBack->status == 7 &&
                resultBack->text == result.text && resultBack->seconds == 3.25 &&
                resultBack->device.adapterSerial == "A50285BI");
    }

    // Every outcome and every stage goes by its code: the first value after the frame's type
    // (big-endian, as QDataStream writes it), whatever the value's place in its enum; back, it
    // is itself. A code no version gave is refused.
    void codes() {
        const QList<qint32> outcomes = CodesOf(morven::RemoteOutcomeCodes, WriteOutcome::Cancelled);
        QVERIFY(AllGivenOnce(outcomes));
        for (int i = 0; i < outcomes.size(); ++i) {
            const morven::RemoteResult result{WriteOutcome(i), 1, "text", 0, {}};
            const RemoteFrame frame = result.Frame();
            QCOMPARE(frame.payload.left(4).toHex(),
                     QByteArray::number(outcomes[i], 16).rightJustified(8, '0'));
            const auto back = morven::RemoteResult::From(frame);
            QVERIFY(back && back->outcome == WriteOutcome(i));
        }
        RemoteFrame unknown = morven::RemoteResult{}.Frame();
        unknown.payload.replace(0, 4, QByteArray::fromHex("7fffffff"));
        QVERIFY(!morven::RemoteResult::From(unknown));

        const QList<qint32> stages = CodesOf(morven::RemoteStageCodes, WriteStage::Image);
        QVERIFY(AllGivenOnce(stages));
        for (int i = 0; i < stages.size(); ++i) {
            const RemoteFrame frame = morven::MaximumFrame(WriteStage(i), 100);
            QCOMPARE(int(quint8(frame.payload[0])), stages[i]);
            ShownStage shown;
            QVERIFY(morven::ShowProgress(frame, shown));
            QVERIFY(shown.stage == WriteStage(i));
        }
        RemoteFrame unknownStage = morven::MaximumFrame(WriteStage::Kernel, 100);
        unknownStage.payload[0] = '\x7f';
        ShownStage shown;
        QVERIFY(!morven::ShowProgress(unknownStage, shown));
    }
};

QTEST_GUILESS_MAIN(TestRemoteFrames)
#include "tst_remoteframes.moc"
