#include "NetworkSerialPort.h"

#include <QHostAddress>

#include "LineSettings.h"
#include "QuickAcknowledge.h"

namespace morven {

namespace {

// What a server says when it refuses or drops a client is kept for the failure's text.
constexpr qsizetype TextKept = 200;

// How long a server that does not speak first is given before our offers go.
constexpr int QuietServerMs = 100;

}  // namespace

NetworkSerialPort::NetworkSerialPort(NetworkAddress address, QString url, QObject* parent)
    : QObject(parent), address_(std::move(address)), url_(std::move(url)) {
    answerTimer_.setSingleShot(true);
    connect(&answerTimer_, &QTimer::timeout, this, [this] {
        if (state_ == State::Resolving)
            return Fail(QStringLiteral("the host cannot be resolved (no answer from the name "
                                       "service within %1 seconds)")
                            .arg(LookupLimitMs / 1000));
        Fail(QStringLiteral("the server did not ") + awaited_ +
             QStringLiteral(" within %1 seconds").arg(AnswerLimitMs / 1000));
    });
    connect(&socket_, &QTcpSocket::connected, this, &NetworkSerialPort::OnConnected);
    connect(&socket_, &QTcpSocket::readyRead, this, &NetworkSerialPort::OnReadyRead);
    connect(&socket_, &QTcpSocket::disconnected, this, &NetworkSerialPort::OnDisconnected);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &NetworkSerialPort::OnError);
}

NetworkSerialPort::~NetworkSerialPort() {
    if (lookupId_ >= 0) QHostInfo::abortHostLookup(lookupId_);
}

bool NetworkSerialPort::OpenPort() {
    ClosePort();
    closed_ = false;
    codec_.Reset();
    outgoing_.clear();
    unsent_.clear();
    failure_.clear();
    input_.clear();
    held_.clear();
    text_.clear();
    comPort_ = false;
    purgesPending_ = 0;
    // The name is looked up on its own, with its own limit: the server's limit starts when
    // there is an address to connect to.
    if (const QHostAddress literal(address_.host); !literal.isNull()) {
        addresses_ = {literal};
        ConnectNext();
    } else {
        state_ = State::Resolving;
        Await("resolve the host", LookupLimitMs);
        lookupId_ = QHostInfo::lookupHost(address_.host, this, &NetworkSerialPort::OnLookedUp);
    }
    return !Failed();
}

bool NetworkSerialPort::Opening() const {
    return state_ == State::Resolving || state_ == State::Connecting || state_ == State::SettingUp;
}

void NetworkSerialPort::ClosePort() {
    closed_ = true;
    answerTimer_.stop();
    if (lookupId_ >= 0) QHostInfo::abortHostLookup(std::exchange(lookupId_, -1));
    if (state_ != State::Failed) state_ = State::Closed;
    purgesPending_ = 0;
    // The server is free for its next client at once. Unread bytes would turn the close into a
    // reset: they are taken first.
    if (socket_.state() == QAbstractSocket::ConnectedState) socket_.readAll();
    socket_.abort();
}

bool NetworkSerialPort::IsOpen() const {
    return Opening() || state_ == State::Ready || state_ == State::ChangingSpeed;
}

void NetworkSerialPort::SetLineSettings(const QString& settings) {
    lineSettings_ = settings;
    if (comPort_ && socket_.state() == QAbstractSocket::ConnectedState) SendSettings();
}

bool NetworkSerialPort::ChangeLineSettings(const QString& settings) {
    DiscardInput();
    SetLineSettings(settings);
    return !Failed();
}

void NetworkSerialPort::WriteBytes(const QByteArray& bytes) {
    if (Failed()) return;
    if (state_ == State::Ready)
        SendRaw(Rfc2217Codec::Escaped(bytes));
    else
        held_ += Rfc2217Codec::Escaped(bytes);
}

QByteArray NetworkSerialPort::ReadInput() { return std::exchange(input_, {}); }

void NetworkSerialPort::DiscardInput() {
    input_.clear();
    if (state_ != State::SettingUp && state_ != State::Ready && state_ != State::ChangingSpeed)
        return;
    ++purgesPending_;
    // The purge goes out with the next bytes written, in one segment: the server takes both in
    // one read. Nothing written in this pass: it goes alone after it.
    if (unsent_.isEmpty())
        QMetaObject::invokeMethod(
            this, [this] { SendRaw({}); }, Qt::QueuedConnection);
    unsent_ += Rfc2217Codec::PurgeCommand();
    if (state_ == State::Ready) Await("acknowledge a purge", AnswerLimitMs);
}

QString NetworkSerialPort::FailureText() const { return url_ + QStringLiteral(": ") + failure_; }

void NetworkSerialPort::OnLookedUp(const QHostInfo& info) {
    lookupId_ = -1;
    if (state_ != State::Resolving) return;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
        return Fail(QStringLiteral("the host cannot be resolved (") + info.errorString() +
                    QLatin1Char(')'));
    addresses_ = info.addresses();
    ConnectNext();
}

// Each address the name has, in turn, until one accepts: "localhost" may name ::1 first and a
// server listen on 127.0.0.1 only.
void NetworkSerialPort::ConnectNext() {
    state_ = State::Connecting;
    Await("accept the connection", AnswerLimitMs);
    socket_.abort();
    socket_.connectToHost(addresses_.takeFirst(), address_.port);
}

// A server speaks first (ser2net offers its options, or says that the port is in use); ours
// follow its, or a moment later from a quiet server.
void NetworkSerialPort::OnConnected() {
    state_ = State::SettingUp;
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    Await("take up RFC 2217 (COM-PORT-OPTION)", AnswerLimitMs);
    QTimer::singleShot(QuietServerMs, this, [this] {
        if (socket_.state() == QAbstractSocket::ConnectedState) Offer();
    });
}

void NetworkSerialPort::Offer() { SendRaw(codec_.Offers()); }

void NetworkSerialPort::OnReadyRead() {
    if (!socket_.isOpen()) return;
    const QByteArray bytes = socket_.readAll();
    if (bytes.isEmpty()) return;
    AcknowledgeAtOnce(socket_);
    // Replies go out once the whole batch is read: a server that refuses this client says why
    // and closes, and an early reply would reset the connection before its words were read.
    const Rfc2217Codec::Decoded decoded = codec_.Take(bytes);
    batching_ = true;
    outgoing_ += decoded.reply;
    for (const Rfc2217Codec::Piece& piece : decoded.pieces) {
        Handle(piece);
        if (Failed()) return;
    }
    batching_ = false;
    Offer();
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
    if (Failed()) return;
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
        case QAbstractSocket::ConnectionRefusedError:
            if (state_ == State::Connecting && !addresses_.isEmpty()) return ConnectNext();
            Fail(QStringLiteral("nothing listens there (") + socket_.errorString() +
                 QLatin1Char(')'));
            break;
        default: Fail(socket_.errorString()); break;
    }
}

// Before the line is set up, data is no answer of the target's: it is what a server says when
// it refuses a client, kept for the failure's words. While a purge is under way, data is what
// the target sent before the discard.
void NetworkSerialPort::Handle(const Rfc2217Codec::Piece& piece) {
    using Kind = Rfc2217Codec::Piece::Kind;
    switch (piece.kind) {
        case Kind::Data:
            if (Opening())
                text_ += piece.data.left(TextKept - text_.size());
            else if (purgesPending_ == 0)
                input_ += piece.data;
            return;
        case Kind::ComPortTaken:
            if (!std::exchange(comPort_, true)) SendSettings();
            return;
        case Kind::ComPortRefused:
            return Fail(
                QStringLiteral("the server does not speak RFC 2217 (it refuses COM-PORT-OPTION)"));
        case Kind::BinaryRefused:
            return Fail(QStringLiteral(
                "the server refuses binary transmission (telnet BINARY): the target's bytes "
                "would not pass unchanged"));
        case Kind::SpeedSet: return SpeedSet(piece.value);
        case Kind::PurgeDone:
            // Acknowledgements come in the order of the purges: data after the last one is new.
            if (purgesPending_ > 0 && --purgesPending_ == 0 && state_ == State::Ready)
                answerTimer_.stop();
            return;
    }
}

void NetworkSerialPort::SpeedSet(quint32 baud) {
    if (state_ != State::SettingUp && state_ != State::ChangingSpeed) return;
    const int wanted = LineSettings::Parse(lineSettings_).baud;
    if (baud != 0 && int(baud) != wanted)
        return Fail(QStringLiteral("the server set %1 baud, not %2").arg(baud).arg(wanted));
    state_ = State::Ready;
    if (purgesPending_ == 0)
        answerTimer_.stop();
    else
        Await("acknowledge a purge", AnswerLimitMs);
    SendRaw(std::exchange(held_, {}));
}

// Every setting at once; bytes written meanwhile wait for the speed's acknowledgement.
void NetworkSerialPort::SendSettings() {
    if (state_ == State::Ready) state_ = State::ChangingSpeed;
    SendRaw(Rfc2217Codec::SettingsCommands(LineSettings::Parse(lineSettings_)));
    Await("acknowledge the line settings", AnswerLimitMs);
}

// On the wire now, not at some later pass of the event loop.
void NetworkSerialPort::SendRaw(const QByteArray& bytes) {
    if (batching_) {
        outgoing_ += bytes;
        return;
    }
    const QByteArray out = std::exchange(unsent_, {}) + bytes;
    if (out.isEmpty() || socket_.state() != QAbstractSocket::ConnectedState) return;
    socket_.write(out);
    socket_.flush();
}

void NetworkSerialPort::Await(const char* what, int ms) {
    awaited_ = QString::fromLatin1(what);
    answerTimer_.start(ms);
}

void NetworkSerialPort::Fail(const QString& reason) {
    if (Failed()) return;
    failure_ = reason;
    state_ = State::Failed;
    batching_ = false;
    answerTimer_.stop();
    if (lookupId_ >= 0) QHostInfo::abortHostLookup(std::exchange(lookupId_, -1));
    purgesPending_ = 0;
    socket_.abort();
}

}  // namespace morven
