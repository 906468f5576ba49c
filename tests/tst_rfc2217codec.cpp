// The RFC 2217 client's codec, byte by byte: every sequence means the same whole, byte by byte
// and split at every position.
#include <QTest>

#include "port/Rfc2217Codec.h"

using morven::Rfc2217Codec;
using Kind = Rfc2217Codec::Piece::Kind;

namespace {

QByteArray Hex(const char* hex) { return QByteArray::fromHex(hex); }

// The pieces as words, adjacent data joined: "data:6162", "speed:57600", "purge"...
QStringList Words(const std::vector<Rfc2217Codec::Piece>& pieces) {
    QStringList words;
    QByteArray data;
    const auto flush = [&] {
        if (!data.isEmpty()) words << "data:" + QString::fromLatin1(data.toHex());
        data.clear();
    };
    for (const Rfc2217Codec::Piece& piece : pieces) {
        if (piece.kind == Kind::Data) {
            data += piece.data;
            continue;
        }
        flush();
        switch (piece.kind) {
            case Kind::ComPortTaken: words << "comport"; break;
            case Kind::ComPortRefused: words << "comport refused"; break;
            case Kind::BinaryRefused: words << "binary refused"; break;
            case Kind::SpeedSet: words << QString("speed:%1").arg(piece.value); break;
            case Kind::PurgeDone: words << "purge"; break;
            case Kind::Data: break;
        }
    }
    flush();
    return words;
}

struct Result {
    QStringList words;
    QByteArray reply;
};

// Feeds the parts in turn to a fresh codec.
Result Feed(const QList<QByteArray>& parts) {
    Rfc2217Codec codec;
    std::vector<Rfc2217Codec::Piece> pieces;
    QByteArray reply;
    for (const QByteArray& part : parts) {
        Rfc2217Codec::Decoded decoded = codec.Take(part);
        pieces.insert(pieces.end(), decoded.pieces.begin(), decoded.pieces.end());
        reply += decoded.reply;
    }
    return {Words(pieces), reply};
}

}  // namespace

class TestRfc2217Codec : public QObject {
    Q_OBJECT

private slots:
    void decoding_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("data") << Hex("61620d0a00") << QStringList{"data:61620d0a00"}
                              << QByteArray();
        QTest::newRow("doubled 0xFF is one data byte")
            << Hex("ffff01ffffff") << QStringList{"data:ff01ff"} << QByteArray();
        QTest::newRow("DO BINARY answered once")
            << Hex("fffd00fffd00") << QStringList{} << Hex("fffb00");
        QTest::newRow("WILL SUPPRESS-GO-AHEAD") << Hex("fffb03") << QStringList{} << Hex("fffd03");
        QTest::newRow("DO ECHO declined") << Hex("fffd01") << QStringList{} << Hex("fffc01");
        QTest::newRow("WILL STATUS declined") << Hex("fffb05") << QStringList{} << Hex("fffe05");
        QTest::newRow("DO COM-PORT-OPTION")
            << Hex("fffd2c") << QStringList{"comport"} << Hex("fffb2c");
        QTest::newRow("DONT COM-PORT-OPTION")
            << Hex("fffe2c") << QStringList{"comport refused"} << QByteArray();
        QTest::newRow("WONT BINARY")
            << Hex("fffc00") << QStringList{"binary refused"} << QByteArray();
        QTest::newRow("DONT BINARY")
            << Hex("fffe00") << QStringList{"binary refused"} << QByteArray();
        QTest::newRow("speed acknowledged")
            << Hex("fffa2c650000e100fff0") << QStringList{"speed:57600"} << QByteArray();
        QTest::newRow("speed with 0xFF doubled in it")
            << Hex("fffa2c650000fffffffffff0") << QStringList{"speed:65535"} << QByteArray();
        QTest::newRow("purge between data")
            << Hex("41fffa2c7001fff042") << QStringList{"data:41", "purge", "data:42"}
            << QByteArray();
        QTest::newRow("other option's subnegotiation ignored")
            << Hex("fffa1801fff043") << QStringList{"data:43"} << QByteArray();
        QTest::newRow("NOP and GA ignored")
            << Hex("44fff1fff945") << QStringList{"data:4445"} << QByteArray();
        QTest::newRow("lone IAC inside a subnegotiation dropped")
            << Hex("fffa2c6500ff0100e100fff0") << QStringList{"speed:57600"} << QByteArray();
        // Far past any answer's length: read to its end and dropped, never acted on.
        QTest::newRow("endless doubled 0xFF in a subnegotiation")
            << Hex("fffa2c65") + QByteArray(20000, '\xFF') + Hex("fff046") << QStringList{"data:46"}
            << QByteArray();
        QTest::newRow("endless plain subnegotiation")
            << Hex("fffa2c70") + QByteArray(5000, '\x01') + Hex("fff047") << QStringList{"data:47"}
            << QByteArray();
    }

    void decoding() {
        QFETCH(QByteArray, input);
        QFETCH(QStringList, words);
        QFETCH(QByteArray, reply);
        const Result whole = Feed({input});
        QCOMPARE(whole.words, words);
        QCOMPARE(whole.reply.toHex(), reply.toHex());
        QList<QByteArray> bytes;
        for (const char byte : input) bytes << QByteArray(1, byte);
        const Result single = Feed(bytes);
        QCOMPARE(single.words, words);
        QCOMPARE(single.reply.toHex(), reply.toHex());
        // Long rows are split near their ends and middle only: the rest is the same loop.
        for (qsizetype at = 1; at < input.size(); ++at) {
            if (input.size() > 64 && at > 16 && at < input.size() - 16 && at % 997 != 0) continue;
            const Result split = Feed({input.left(at), input.mid(at)});
            QVERIFY2(split.words == words && split.reply == reply,
                     qPrintable(QString("split at %1: %2").arg(at).arg(split.words.join(", "))));
        }
    }

    void encoding_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("data with 0xFF")
            << Rfc2217Codec::Escaped(Hex("00ff11ffff")) << Hex("00ffff11ffffffff");
        QTest::newRow("57600,N,8,1")
            << Rfc2217Codec::SettingsCommands({57600, morven::LineSettings::Parity::None, 8, 1})
            << Hex("fffa2c010000e100fff0 fffa2c0208fff0 fffa2c0301fff0 fffa2c0401fff0"
                   " fffa2c0501fff0");
        QTest::newRow("even parity, 7 bits, 2 stop bits")
            << Rfc2217Codec::SettingsCommands({19200, morven::LineSettings::Parity::Even, 7, 2})
            << Hex("fffa2c0100004b00fff0 fffa2c0207fff0 fffa2c0303fff0 fffa2c0402fff0"
                   " fffa2c0501fff0");
        QTest::newRow("purge") << Rfc2217Codec::PurgeCommand() << Hex("fffa2c0c01fff0");
    }

    void encoding() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, expected);
        QCOMPARE(bytes.toHex(' '), expected.toHex(' '));
    }

    // Our requests go once, and none of them again when the server asks for what we offered.
    void offersOnce() {
        Rfc2217Codec codec;
        QCOMPARE(codec.Offers().toHex(), Hex("fffb00fffd00fffb03fffd03fffb2c").toHex());
        QVERIFY(codec.Offers().isEmpty());
        const Rfc2217Codec::Decoded decoded = codec.Take(Hex("fffd00fffb03fffd2c"));
        QVERIFY(decoded.reply.isEmpty());
        QCOMPARE(Words(decoded.pieces), QStringList{"comport"});
        codec.Reset();
        QVERIFY(!codec.Offers().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRfc2217Codec)
#include "tst_rfc2217codec.moc"
