#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <optional>
#include <set>
#include <variant>

#include "Port.h"

namespace morven {

// Where a network serial port is: rfc2217://HOST:PORT, HOST a name, an IPv4 address or [IPv6].
struct NetworkAddress {
    QString host;
    quint16 port = 0;

    static bool IsUrl(const QString& text);
    // The address, or why the URL is malformed.
    static std::variant<NetworkAddress, QString> Parse(const QString& url);
};

// A serial port on another machine, served by an access server such as ser2net: RFC 2217 over
// telnet on a TCP connection. The protocol's bytes pass unchanged (0xFF doubled on the wire);
// the line settings are set at open and at each change, and no byte goes out at new settings
// before the server has acknowledged them. A discard drops everything the target sent before
// it, wherever those bytes still are: the server purges its buffer, and whatever arrives before
// the server's acknowledgement of the purge (TCP keeps the order) is dropped too.
class NetworkSerialPort : public QObject, public Port {
    Q_OBJECT

public:
    // How long the server has to connect and to acknowledge line settings or a purge.
    static constexpr int AnswerLimitMs = 3000;

    NetworkSerialPort(NetworkAddress address, QString url, QObject* parent = nullptr);

    bool OpenPort() override;
    bool Opening() const override { return connecting_ || settingsPending_; }
    void ClosePort() override;
    bool IsOpen() const override;
    bool Remote() const override { return true; }
    void SetLineSettings(const QString& settings) override;
    bool ChangeLineSettings(const QString& settings) override;
    void WriteBytes(const QByteArray& bytes) override;
    int InputCount() const override { return static_cast<int>(input_.size()); }
    QByteArray ReadInput() override;
    void DiscardInput() override;
    bool Failed() const override { return !failure_.isEmpty(); }
    QString FailureText() const override;

private:
    enum class Parse { Data, Iac, Option, Sub, SubIac };

    void OnConnected();
    void Offer();
    void OnReadyRead();
    void OnDisconnected();
    void ServerClosed();
    void OnError();
    void AcknowledgeAtOnce();
    void Take(quint8 byte);
    void Request(quint8 command, quint8 option);
    void Negotiate(quint8 command, quint8 option);
    void SubNegotiation(const QByteArray& body);
    void SendSettings();
    void SendCommand(quint8 command, const QByteArray& value);
    void SendRaw(const QByteArray& bytes);
    void Flush();
    void AwaitAnswer(const char* what);
    void Fail(const QString& reason);

    NetworkAddress address_;
    QString url_;
    QTcpSocket socket_;
    QTimer answerTimer_;  // the server's time to connect or to acknowledge
    QString awaited_;     // what the server is to acknowledge
    QString lineSettings_ = BootLineSettings;
    bool connecting_ = false;
    bool closed_ = false;    // by us: the server's close that follows is no failure
    bool offered_ = false;   // our telnet offers are out
    bool batching_ = false;  // replies wait in outgoing_ until a batch from the server is read
    QByteArray outgoing_;
    bool settingsSent_ = false;     // the server has taken up RFC 2217 and had the settings
    bool settingsPending_ = false;  // bytes wait until the server has the new settings
    int purgesPending_ = 0;  // data from the target is dropped until every purge is acknowledged
    QByteArray held_;        // bytes written while the settings were pending
    QByteArray input_;       // data from the target, telnet removed
    QByteArray text_;        // what a server says before it closes (a refusal)
    Parse parse_ = Parse::Data;
    quint8 command_ = 0;
    QByteArray sub_;
    std::set<quint8> sentWill_, sentDo_;
    QString failure_;
};

}  // namespace morven
