#include "Rfc2217Codec.h"

#include "Bytes.h"

namespace morven {

namespace {

// Telnet and its options.
constexpr quint8 Se = 240, Sb = 250, Will = 251, Wont = 252, Do = 253, Dont = 254, Iac = 255;
constexpr quint8 Binary = 0, SuppressGoAhead = 3, ComPortOption = 44;
// RFC 2217 commands, client to server; the server answers each with the command plus 100.
constexpr quint8 SetBaudRate = 1, SetDataSize = 2, SetParity = 3, SetStopSize = 4, SetControl = 5,
                 PurgeData = 12;
constexpr quint8 ServerOffset = 100;
constexpr quint8 PurgeReceived = 1;  // the server's buffer of data from the serial port
constexpr quint8 NoFlowControl = 1;

bool Supported(quint8 option) {
    return option == Binary || option == SuppressGoAhead || option == ComPortOption;
}

QByteArray BigEndian(quint32 value, int bytes) {
    QByteArray out;
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out.append(static_cast<char>((value >> shift) & 0xFF));
    return out;
}

QByteArray Command(quint8 command, const QByteArray& value) {
    return Bytes({Iac, Sb, ComPortOption, command}) + Rfc2217Codec::Escaped(value) +
           Bytes({Iac, Se});
}

void AppendData(std::vector<Rfc2217Codec::Piece>& pieces, char byte) {
    if (pieces.empty() || pieces.back().kind != Rfc2217Codec::Piece::Kind::Data)
        pieces.push_back({});
    pieces.back().data.append(byte);
}

}  // namespace

void Rfc2217Codec::Reset() { *this = Rfc2217Codec(); }

QByteArray Rfc2217Codec::Offers() {
    if (std::exchange(offered_, true)) return {};
    QByteArray out;
    for (const quint8 option : {Binary, SuppressGoAhead}) {
        out += Request(Will, option);
        out += Request(Do, option);
    }
    return out + Request(Will, ComPortOption);
}

Rfc2217Codec::Decoded Rfc2217Codec::Take(QByteArrayView bytes) {
    Decoded out;
    for (const char raw : bytes) {
        const auto byte = static_cast<quint8>(raw);
        switch (state_) {
            case State::Data:
                if (byte == Iac)
                    state_ = State::Iac;
                else
                    AppendData(out.pieces, raw);
                break;
            case State::Iac:
                state_ = State::Data;
                if (byte == Iac) {
                    AppendData(out.pieces, raw);  // a doubled 0xFF is one data byte
                } else if (byte >= Will && byte <= Dont) {
                    command_ = byte;
                    state_ = State::Option;
                } else if (byte == Sb) {
                    sub_.clear();
                    subTooLong_ = false;
                    state_ = State::Sub;
                }
                break;
            case State::Option:
                state_ = State::Data;
                Negotiate(command_, byte, out);
                break;
            case State::Sub:
            case State::SubIac:
                if (state_ == State::Sub && byte == Iac) {
                    state_ = State::SubIac;
                    break;
                }
                if (state_ == State::SubIac && byte == Se) {
                    state_ = State::Data;
                    if (!subTooLong_) Subnegotiation(out);
                    break;
                }
                // A lone IAC inside is malformed and dropped; a doubled one is a 0xFF of the
                // body. Either way the body is bounded.
                const bool keep = state_ == State::Sub || byte == Iac;
                state_ = State::Sub;
                if (!keep) break;
                if (sub_.size() < SubnegotiationLimit)
                    sub_.append(raw);
                else
                    subTooLong_ = true;
                break;
        }
    }
    return out;
}

QByteArray Rfc2217Codec::Escaped(QByteArrayView data) {
    QByteArray escaped;
    escaped.reserve(data.size() + 8);
    for (const char byte : data) {
        escaped.append(byte);
        if (static_cast<quint8>(byte) == Iac) escaped.append(byte);
    }
    return escaped;
}

QByteArray Rfc2217Codec::SettingsCommands(const LineSettings& settings) {
    const quint8 parity = settings.parity == LineSettings::Parity::Odd    ? 2
                          : settings.parity == LineSettings::Parity::Even ? 3
                                                                          : 1;
    return Command(SetBaudRate, BigEndian(static_cast<quint32>(settings.baud), 4)) +
           Command(SetDataSize, BigEndian(static_cast<quint32>(settings.dataBits), 1)) +
           Command(SetParity, QByteArray(1, char(parity))) +
           Command(SetStopSize, BigEndian(static_cast<quint32>(settings.stopBits), 1)) +
           Command(SetControl, QByteArray(1, char(NoFlowControl)));
}

QByteArray Rfc2217Codec::PurgeCommand() {
    return Command(PurgeData, QByteArray(1, char(PurgeReceived)));
}

// Sends a telnet request once, so that the two sides never loop.
QByteArray Rfc2217Codec::Request(quint8 command, quint8 option) {
    std::set<quint8>& sent = command == Will ? sentWill_ : sentDo_;
    if (!sent.insert(option).second) return {};
    return Bytes({Iac, command, option});
}

void Rfc2217Codec::Negotiate(quint8 command, quint8 option, Decoded& out) {
    using Kind = Piece::Kind;
    switch (command) {
        case Do:
            if (!Supported(option)) {
                out.reply += Bytes({Iac, Wont, option});
                return;
            }
            out.reply += Request(Will, option);
            if (option == ComPortOption) out.pieces.push_back({Kind::ComPortTaken});
            return;
        case Will:
            if (!Supported(option)) {
                out.reply += Bytes({Iac, Dont, option});
                return;
            }
            out.reply += Request(Do, option);
            return;
        case Wont:
        case Dont:
            // Without BINARY a server may turn CR into CR NUL or drop bytes: the protocol's
            // bytes would not arrive as sent.
            if (option == Binary) out.pieces.push_back({Kind::BinaryRefused});
            if (option == ComPortOption && command == Dont)
                out.pieces.push_back({Kind::ComPortRefused});
            return;
    }
}

void Rfc2217Codec::Subnegotiation(Decoded& out) const {
    if (sub_.size() < 2 || static_cast<quint8>(sub_[0]) != ComPortOption) return;
    const auto code = static_cast<quint8>(sub_[1]);
    if (code == ServerOffset + SetBaudRate) {
        quint32 baud = 0;
        for (qsizetype i = 2; i < std::min<qsizetype>(sub_.size(), 6); ++i)
            baud = baud << 8 | static_cast<quint8>(sub_[i]);
        out.pieces.push_back({Piece::Kind::SpeedSet, {}, baud});
    } else if (code == ServerOffset + PurgeData) {
        out.pieces.push_back({Piece::Kind::PurgeDone});
    }
}

}  // namespace morven
