#include "NetworkSerialPort.h"

#include <QHostAddress>

#include "Bytes.h"
#include "LineSettings.h"

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace morven {

namespace {

// Telnet (RFC 854) and its options.
constexpr quint8 Se = 240, Sb = 250, Will = 251, Wont = 252, Do = 253, Dont = 254, Iac = 255;
constexpr quint8 Binary = 0, SuppressGoAhead = 3, ComPortOption = 44;
// RFC 2217 commands, client to server; the server answers each with the command plus 100.
constexpr quint8 SetBaudRate = 1, SetDataSize = 2, SetParity = 3, SetStopSize = 4, SetControl = 5,
                 PurgeData = 12;
constexpr quint8 ServerOffset = 100;
constexpr quint8 PurgeReceived = 1;  // the server's buffer of data from the serial port
constexpr quint8 NoFlowControl = 1;
// What a server says when it refuses or drops a client is kept for the failure's text.
constexpr qsizetype TextKept = 200;

const QString Scheme = QStringLiteral("rfc2217://");
// How long a server that does not speak first is given before our offers go.
constexpr int QuietServerMs = 100;

bool Supported(quint8 option) {
    return option == Binary || option == SuppressGoAhead || option == ComPortOption;
}

// 0xFF doubled, as telnet carries it: erased flash and many kernels are full of it.
QByteArray Escaped(const QByteArray& bytes) {
    QByteArray escaped = bytes;
    return escaped.replace(QByteArray(1, char(Iac)), QByteArray(2, char(Iac)));
}

QByteArray BigEndian(quint32 value, int bytes) {
    QByteArray out;
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out.append(static_cast<char>((value >> shift) & 0xFF));
    return out;
}

}  // namespace

bool NetworkAddress::IsUrl(const QString& text) {
    return text.startsWith(Scheme, Qt::CaseInsensitive);
}

std::variant<NetworkAddress, QString> NetworkAddress::Parse(const QString& url) {
    const QString rest = url.mid(Scheme.size());
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    if (!IsUrl(url) || colon < 0)
        return QStringLiteral("a network port is rfc2217://HOST:PORT, with its port number");
    QString host = rest.left(colon);
    const QString portText = rest.mid(colon + 1);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
        host = host.mid(1, host.size() - 2);
        if (QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol)
            return QStringLiteral("[") + host + QStringLiteral("] is not an IPv6 address");
    } else if (host.contains(QLatin1Char(':'))) {
        return QStringLiteral("an IPv6 address goes in brackets: rfc2217://[::1]:PORT");
    }
    if (host.isEmpty()) return QStringLiteral("the host is empty");
    if (host.contains(QLatin1Char('/')) || host.contains(QLatin1Char('@')))
        return QStringLiteral("the host is not a name or an address");
    bool ok = false;
    const uint port = portText.toUInt(&ok, 10);
    if (!ok || port < 1 || port > 65535 || portText.startsWith(QLatin1Char('+')))
        return QStringLiteral("the port must be a number from 1 to 65535");
    return NetworkAddress{host, static_cast<quint16>(port)};
}

NetworkSerialPort::NetworkSerialPort(NetworkAddress address, QString url, QObject* parent)
    : QObject(parent), address_(std::move(address)), url_(std::move(url)) {
    answerTimer_.setSingleShot(true);
    connect(&answerTimer_, &QTimer::timeout, this, [this] {
        Fail(QStringLiteral("the server did not ") + awaited_ +
             QStringLiteral(" within %1 seconds").arg(AnswerLimitMs / 1000));
    });
    connect(&socket_, &QTcpSocket::connected, this, &NetworkSerialPort::OnConnected);
    connect(&socket_, &QTcpSocket::readyRead, this, &NetworkSerialPort::OnReadyRead);
    connect(&socket_, &QTcpSocket::disconnected, this, &NetworkSerialPort::OnDisconnected);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &NetworkSerialPort::OnError);
}

bool NetworkSerialPort::OpenPort() {
    socket_.abort();
    closed_ = false;
    offered_ = false;
    outgoing_.clear();
    failure_.clear();
    input_.clear();
    held_.clear();
    text_.clear();
    sub_.clear();
    sentWill_.clear();
    sentDo_.clear();
    parse_ = Parse::Data;
    purgesPending_ = 0;
    settingsSent_ = false;
    connecting_ = true;
    settingsPending_ = true;
    AwaitAnswer("accept the connection");
    socket_.connectToHost(address_.host, address_.port);
    return !Failed();
}

void NetworkSerialPort::ClosePort() {
    closed_ = true;
    answerTimer_.stop();
    connecting_ = settingsPending_ = false;
    purgesPending_ = 0;
    // The server is free for its next client at once. Unread bytes would turn the close into a
    // reset: they are taken first.
    if (socket_.state() == QAbstractSocket::ConnectedState) socket_.readAll();
    socket_.abort();
}

bool NetworkSerialPort::IsOpen() const {
    return connecting_ || socket_.state() == QAbstractSocket::ConnectedState;
}

void NetworkSerialPort::SetLineSettings(const QString& settings) {
    lineSettings_ = settings;
    if (settingsSent_ && socket_.state() == QAbstractSocket::ConnectedState) SendSettings();
}

bool NetworkSerialPort::ChangeLineSettings(const QString& settings) {
    DiscardInput();
    SetLineSettings(settings);
    return !Failed();
}

void NetworkSerialPort::WriteBytes(const QByteArray& bytes) {
    if (Failed()) return;
    if (Opening())
        held_ += Escaped(bytes);
    else
        SendRaw(Escaped(bytes));
}

QByteArray NetworkSerialPort::ReadInput() { return std::exchange(input_, {}); }

void NetworkSerialPort::DiscardInput() {
    input_.clear();
    if (connecting_ || Failed() || socket_.state() != QAbstractSocket::ConnectedState) return;
    ++purgesPending_;
    SendCommand(PurgeData, QByteArray(1, char(PurgeReceived)));
    if (!settingsPending_) AwaitAnswer("acknowledge a purge");
}

QString NetworkSerialPort::FailureText() const { return url_ + QStringLiteral(": ") + failure_; }

// A server speaks first (ser2net offers its options, or says that the port is in use); ours
// follow its, or a moment later from a quiet server.
void NetworkSerialPort::OnConnected() {
    connecting_ = false;
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QTimer::singleShot(QuietServerMs, this, [this] {
        if (!offered_ && socket_.state() == QAbstractSocket::ConnectedState) Offer();
    });
}

void NetworkSerialPort::Offer() {
    offered_ = true;
    for (const quint8 option : {Binary, SuppressGoAhead}) {
        Request(Will, option);
        Request(Do, option);
    }
    Request(Will, ComPortOption);
    if (!settingsSent_) AwaitAnswer("take up RFC 2217 (COM-PORT-OPTION)");
}

void NetworkSerialPort::OnReadyRead() {
    if (!socket_.isOpen()) return;
    const QByteArray bytes = socket_.readAll();
    if (bytes.isEmpty()) return;
    AcknowledgeAtOnce();
    // Replies go out once the whole batch is read: a server that refuses this client says why
    // and closes, and an early reply would reset the connection before its words were read.
    batching_ = true;
    for (const char byte : bytes) Take(static_cast<quint8>(byte));
    batching_ = false;
    if (!offered_) Offer();
    SendRaw(std::exchange(outgoing_, {}));
}

// Called from inside the reading of a batch, a close is handled once the batch is read: the
// server's last words may still follow in it.
void NetworkSerialPort::OnDisconnected() {
    QMetaObject::invokeMethod(this, &NetworkSerialPort::ServerClosed, Qt::QueuedConnection);
}

void NetworkSerialPort::ServerClosed() {
    if (Failed() || closed_) return;
    OnReadyRead();  // what the server said last, before it closed
    if (!Opening())
        return Fail(
            QStringLiteral("the server closed the connection during the write: another "
                           "client took the port (a server that lets a new client kick "
                           "the old one), or the server stopped"));
    const QString said = QString::fromLatin1(text_).simplified();
    const QString quoted =
        said.isEmpty() ? QString() : QStringLiteral(" (it said \"") + said + QStringLiteral("\")");
    if (said.contains(QStringLiteral("in use"), Qt::CaseInsensitive))
        Fail(QStringLiteral("the port is in use by another client: the server refused this "
                            "one") +
             quoted);
    else
        Fail(QStringLiteral("the server closed the connection before the line was set up") +
             quoted);
}

void NetworkSerialPort::OnError() {
    switch (socket_.error()) {
        case QAbstractSocket::RemoteHostClosedError: OnDisconnected(); break;
        case QAbstractSocket::HostNotFoundError:
            Fail(QStringLiteral("the host cannot be resolved (") + socket_.errorString() +
                 QLatin1Char(')'));
            break;
        case QAbstractSocket::ConnectionRefusedError:
            Fail(QStringLiteral("nothing listens there (") + socket_.errorString() +
                 QLatin1Char(')'));
            break;
        default: Fail(socket_.errorString()); break;
    }
}

// The server may send a purge's acknowledgement and the target's next byte as two small
// segments; unless it turned Nagle's algorithm off, the second waits for our acknowledgement of
// the first, which the system would delay by up to 40 ms. Linux forgets this after each read.
void NetworkSerialPort::AcknowledgeAtOnce() {
#ifdef Q_OS_LINUX
    const int on = 1;
    setsockopt(static_cast<int>(socket_.socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &on,
               sizeof on);
#endif
}

void NetworkSerialPort::Take(quint8 byte) {
    switch (parse_) {
        case Parse::Data:
            if (byte == Iac) {
                parse_ = Parse::Iac;
                return;
            }
            break;
        case Parse::Iac:
            parse_ = Parse::Data;
            if (byte == Iac) break;  // a doubled 0xFF is one data byte
            if (byte >= Will && byte <= Dont) {
                command_ = byte;
                parse_ = Parse::Option;
            } else if (byte == Sb) {
                sub_.clear();
                parse_ = Parse::Sub;
            }
            return;
        case Parse::Option:
            parse_ = Parse::Data;
            Negotiate(command_, byte);
            return;
        case Parse::Sub:
            if (byte == Iac)
                parse_ = Parse::SubIac;
            else if (sub_.size() < 64)
                sub_.append(static_cast<char>(byte));
            return;
        case Parse::SubIac:
            parse_ = Parse::Sub;
            if (byte == Iac) {
                sub_.append(static_cast<char>(Iac));
            } else if (byte == Se) {
                parse_ = Parse::Data;
                SubNegotiation(sub_);
            }
            return;
    }
    // Before the line is set up, data is no answer of the target's: it is what a server says
    // when it refuses a client, kept for the failure's words. While a purge is under way, data
    // is what the target sent before the discard.
    if (Opening()) {
        if (text_.size() < TextKept) text_.append(static_cast<char>(byte));
        return;
    }
    if (purgesPending_ > 0) return;
    input_.append(static_cast<char>(byte));
}

// Sends a telnet request once, so that the two sides never loop.
void NetworkSerialPort::Request(quint8 command, quint8 option) {
    std::set<quint8>& sent = command == Will ? sentWill_ : sentDo_;
    if (!sent.insert(option).second) return;
    SendRaw(Bytes({Iac, command, option}));
}

// The server's requests and answers: BINARY, SUPPRESS-GO-AHEAD and COM-PORT-OPTION are taken
// up, every other option is declined.
void NetworkSerialPort::Negotiate(quint8 command, quint8 option) {
    switch (command) {
        case Do:
            if (!Supported(option)) return SendRaw(Bytes({Iac, Wont, option}));
            Request(Will, option);
            if (option == ComPortOption && !settingsSent_) SendSettings();
            return;
        case Will:
            if (!Supported(option)) return SendRaw(Bytes({Iac, Dont, option}));
            Request(Do, option);
            return;
        case Dont:
            if (option == ComPortOption)
                Fail(
                    QStringLiteral("the server does not speak RFC 2217 (it refuses "
                                   "COM-PORT-OPTION)"));
            return;
    }
}

void NetworkSerialPort::SubNegotiation(const QByteArray& body) {
    if (body.size() < 2 || static_cast<quint8>(body[0]) != ComPortOption) return;
    const auto code = static_cast<quint8>(body[1]);
    if (code == ServerOffset + SetBaudRate && settingsPending_) {
        quint32 baud = 0;
        for (qsizetype i = 2; i < std::min<qsizetype>(body.size(), 6); ++i)
            baud = baud << 8 | static_cast<quint8>(body[i]);
        const int wanted = LineSettings::Parse(lineSettings_).baud;
        if (baud != 0 && int(baud) != wanted)
            return Fail(QStringLiteral("the server set %1 baud, not %2").arg(baud).arg(wanted));
        settingsPending_ = false;
        if (purgesPending_ == 0) answerTimer_.stop();
        SendRaw(std::exchange(held_, {}));
    } else if (code == ServerOffset + PurgeData && purgesPending_ > 0) {
        // Acknowledgements come in the order of the purges: data after the last one is new.
        if (--purgesPending_ == 0 && !settingsPending_) answerTimer_.stop();
    }
}

// Every setting at once; bytes written meanwhile wait for the speed's acknowledgement.
void NetworkSerialPort::SendSettings() {
    const LineSettings settings = LineSettings::Parse(lineSettings_);
    settingsSent_ = true;
    settingsPending_ = true;
    SendCommand(SetBaudRate, BigEndian(static_cast<quint32>(settings.baud), 4));
    SendCommand(SetDataSize, BigEndian(static_cast<quint32>(settings.dataBits), 1));
    const quint8 parity = settings.parity == LineSettings::Parity::Odd    ? 2
                          : settings.parity == LineSettings::Parity::Even ? 3
                                                                          : 1;
    SendCommand(SetParity, QByteArray(1, char(parity)));
    SendCommand(SetStopSize, BigEndian(static_cast<quint32>(settings.stopBits), 1));
    SendCommand(SetControl, QByteArray(1, char(NoFlowControl)));
    AwaitAnswer("acknowledge the line settings");
}

void NetworkSerialPort::SendCommand(quint8 command, const QByteArray& value) {
    SendRaw(Bytes({Iac, Sb, ComPortOption, command}) + Escaped(value) + Bytes({Iac, Se}));
}

// On the wire now, not at some later pass of the event loop.
void NetworkSerialPort::SendRaw(const QByteArray& bytes) {
    if (batching_) {
        outgoing_ += bytes;
        return;
    }
    if (bytes.isEmpty() || socket_.state() != QAbstractSocket::ConnectedState) return;
    socket_.write(bytes);
    socket_.flush();
}

void NetworkSerialPort::AwaitAnswer(const char* what) {
    awaited_ = QString::fromLatin1(what);
    answerTimer_.start(AnswerLimitMs);
}

void NetworkSerialPort::Fail(const QString& reason) {
    if (Failed()) return;
    failure_ = reason;
    answerTimer_.stop();
    connecting_ = settingsPending_ = false;
    purgesPending_ = 0;
    socket_.abort();
}

}  // namespace morven
