#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>

namespace pellux {

// The console's one UDP socket, kept as a plain descriptor: the reader thread drains it with
// recvmmsg, which no Qt socket offers, while the window sends from it.
class ConsoleSocket {
public:
    ConsoleSocket() = default;
    ~ConsoleSocket();
    ConsoleSocket(const ConsoleSocket&) = delete;
    ConsoleSocket& operator=(const ConsoleSocket&) = delete;

    // Binds the port on every address of the family, exclusively, with a receive buffer for a
    // burst, arrival times and the kernel's drop count on every datagram. False when it fails;
    // ErrorString() then says why.
    bool Bind(QAbstractSocket::NetworkLayerProtocol family, quint16 port);
    // One datagram, whole; false when the socket refuses it.
    bool Send(const QByteArray& payload, const QHostAddress& to, quint16 port);

    int Descriptor() const { return fd_; }
    // What the kernel granted for queued datagrams, in bytes.
    int ReceiveBufferBytes() const;
    QString ErrorString() const { return error_; }

private:
    bool Fail();

    int fd_ = -1;
    QString error_;
};

}  // namespace pellux
