#pragma once

#include <QHostAddress>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QUdpSocket>
#include <QWidget>
#include <functional>

namespace pellux {

inline constexpr quint16 BoardPort = 10001;
inline constexpr quint16 ConsolePort = 10002;
// The largest payload of one UDP datagram over IPv4.
inline constexpr qsizetype LargestDatagram = 65507;
// txtOutput keeps the newest lines only, so that a console left running stays small and fast.
inline constexpr int OutputLineLimit = 10000;
// Datagrams taken per pass of the event loop: a board that floods the console leaves the window
// answering between batches, and the rest wait in the socket for the next pass.
inline constexpr int ArrivalBatch = 256;

// The console's one window: sends the text of txtSend on every change and the test pattern on
// Command1, and shows every datagram that arrives on port 10002.
class frmPeerA : public QWidget {
    Q_OBJECT

public:
    explicit frmPeerA(QWidget* parent = nullptr);

    // Resolves the board's address and binds the console's port. False when either fails;
    // LoadError() then says why, naming the address or the port.
    bool Load();
    QString LoadError() const { return loadError_; }

    // Where refused sends are reported; a message box unless a test says otherwise.
    void SetErrorReporter(std::function<void(const QString&)> reporter) {
        reportError_ = std::move(reporter);
    }

    QLineEdit* txtSend;
    QPlainTextEdit* txtOutput;
    QPushButton* Command1;
    QPushButton* Command2;
    QUdpSocket udpPeerA;

private:
    void SendText(const QString& text);
    void SendPattern();
    void Send(const QByteArray& payload);
    void ShowArrivals();

    QHostAddress remoteAddress_;
    QTimer arrivalWatch_;
    QString loadError_;
    std::function<void(const QString&)> reportError_;
};

}  // namespace pellux
