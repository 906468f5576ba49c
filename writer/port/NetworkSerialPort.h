#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QHostInfo>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include "NetworkAddress.h"
#include "Port.h"
#include "Rfc2217Codec.h"

namespace morven {

// A serial port on another machine, served by an access server such as ser2net: RFC 2217 over
// telnet on a TCP connection. The protocol's bytes pass unchanged (0xFF doubled on the wire);
// the line settings are set at open and at each change, and no byte goes out at new settings
// before the server has acknowledged them. A discard drops everything the target sent before
// it, wherever those bytes still are: the server purges its buffer, and whatever arrives before
// the server's acknowledgement of the purge (TCP keeps the order) is dropped too.
class NetworkSerialPort : public QObject, public Port {
    Q_OBJECT

public:
    // How long the server has to accept the connection and to acknowledge line settings or a
    // purge.
    static constexpr int AnswerLimitMs = 3000;
    // How long the name service has to resolve the host: a slow resolver is not a server that
    // refuses.
    static constexpr int LookupLimitMs = 20000;

    NetworkSerialPort(NetworkAddress address, QString url, QObject* parent = nullptr);
    ~NetworkSerialPort() override;

    bool OpenPort() override;
    bool Opening() const override;
    void ClosePort() override;
    bool IsOpen() const override;
    void SetLineSettings(const QString& settings) override;
    bool ChangeLineSettings(const QString& settings) override;
    void WriteBytes(const QByteArray& bytes) override;
    int InputCount() const override { return static_cast<int>(input_.size()); }
    QByteArray ReadInput() override;
    void DiscardInput() override;
    bool Failed() const override { return state_ == State::Failed; }
    QString FailureText() const override;

private:
    enum class State {
        Closed,
        Resolving,      // the host's name is being looked up
        Connecting,     // the connection is being made
        SettingUp,      // telnet and the first line settings
        Ready,          // the line is set: bytes go out at once
        ChangingSpeed,  // new settings are on their way: bytes wait for their acknowledgement
        Failed,
    };

    void OnLookedUp(const QHostInfo& info);
    void ConnectNext();
    void OnConnected();
    void Offer();
    void OnReadyRead();
    void OnDisconnected();
    void ServerClosed();
    void OnError();
    void Handle(const Rfc2217Codec::Piece& piece);
    void SpeedSet(quint32 baud);
    void SendSettings();
    void SendRaw(const QByteArray& bytes);
    void Await(const char* what, int ms);
    void Fail(const QString& reason);

    NetworkAddress address_;
    QString url_;
    QTcpSocket socket_;
    Rfc2217Codec codec_;
    State state_ = State::Closed;
    int lookupId_ = -1;
    QList<QHostAddress> addresses_;  // still to try, in the resolver's order
    QTimer answerTimer_;             // the resolver's or the server's time
    QString awaited_;                // what is awaited
    QString lineSettings_ = BootLineSettings;
    bool closed_ = false;    // by us: the server's close that follows is no failure
    bool comPort_ = false;   // the server has taken up RFC 2217
    bool batching_ = false;  // replies wait in outgoing_ until a batch from the server is read
    QByteArray outgoing_;
    QByteArray unsent_;      // purges that go out with the next bytes written
    int purgesPending_ = 0;  // data from the target is dropped until every purge is acknowledged
    QByteArray held_;        // bytes written while the settings were pending
    QByteArray input_;       // data from the target, telnet removed
    QByteArray text_;        // what a server says before it closes (a refusal)
    QString failure_;
};

}  // namespace morven
