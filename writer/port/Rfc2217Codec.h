#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>
#include <set>
#include <vector>

#include "LineSettings.h"

namespace morven {

// The client's side of telnet (RFC 854) with the COM-PORT-OPTION (RFC 2217), without a socket:
// bytes from the server go in, the target's data and what the server said about the line come
// out in arrival order, with the telnet answers to send back. Bytes may arrive split anywhere.
// BINARY, SUPPRESS-GO-AHEAD and COM-PORT-OPTION are taken up; every other option is declined.
class Rfc2217Codec {
public:
    // What the server said, in the order it said it, data between.
    struct Piece {
        enum class Kind {
            Data,            // bytes from the target, telnet removed
            ComPortTaken,    // the server speaks RFC 2217: the line settings may go
            ComPortRefused,  // it does not
            BinaryRefused,   // it will not carry every byte value unchanged
            SpeedSet,        // value: the speed the server set
            PurgeDone,       // a purge was carried out
        };
        Kind kind = Kind::Data;
        QByteArray data;
        quint32 value = 0;

        bool operator==(const Piece&) const = default;
    };
    struct Decoded {
        std::vector<Piece> pieces;
        QByteArray reply;  // telnet answers, for the server
    };

    // A subnegotiation longer than this is no COM-PORT-OPTION answer: it is read to its end and
    // dropped.
    static constexpr qsizetype SubnegotiationLimit = 64;

    // Back to the start of a connection.
    void Reset();
    Decoded Take(QByteArrayView bytes);
    // Our own requests, each sent once; empty when they went already.
    QByteArray Offers();

    // 0xFF doubled, as telnet carries it: erased flash and many kernels are full of it.
    static QByteArray Escaped(QByteArrayView data);
    // Speed, data size, parity, stop size and no flow control, in one go.
    static QByteArray SettingsCommands(const LineSettings& settings);
    // Drops what the server holds from the target.
    static QByteArray PurgeCommand();

private:
    enum class State { Data, Iac, Option, Sub, SubIac };

    void Negotiate(quint8 command, quint8 option, Decoded& out);
    void Subnegotiation(Decoded& out) const;
    QByteArray Request(quint8 command, quint8 option);

    State state_ = State::Data;
    quint8 command_ = 0;
    QByteArray sub_;
    bool subTooLong_ = false;
    bool offered_ = false;
    std::set<quint8> sentWill_, sentDo_;
};

}  // namespace morven
