#include "ConsoleSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pellux {

namespace {

// A second of a chatty board: 20,000 short datagrams, each charged about 1 KiB by the kernel.
// The kernel doubles what is asked for its own bookkeeping and caps the request at
// net.core.rmem_max unless the process may force it.
constexpr int ReceiveBufferRequest = 10 << 20;

socklen_t ToSockaddr(const QHostAddress& address, quint16 port, sockaddr_storage& out) {
    std::memset(&out, 0, sizeof out);
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto& in6 = reinterpret_cast<sockaddr_in6&>(out);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6.sin6_addr, bytes.c, sizeof bytes.c);
        in6.sin6_scope_id = address.scopeId().toUInt();
        return sizeof in6;
    }
    auto& in4 = reinterpret_cast<sockaddr_in&>(out);
    in4.sin_family = AF_INET;
    in4.sin_port = htons(port);
    in4.sin_addr.s_addr = htonl(address.toIPv4Address());
    return sizeof in4;
}

}  // namespace

ConsoleSocket::~ConsoleSocket() {
    if (fd_ >= 0) close(fd_);
}

bool ConsoleSocket::Fail() {
    error_ = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

bool ConsoleSocket::Bind(QAbstractSocket::NetworkLayerProtocol family, quint16 port) {
    const bool ipv6 = family == QAbstractSocket::IPv6Protocol;
    fd_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return Fail();
    const int on = 1;
    if (ipv6 && setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) return Fail();
    // Forcing past the system's limit needs CAP_NET_ADMIN; without it the limit applies.
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &ReceiveBufferRequest,
                   sizeof ReceiveBufferRequest) != 0 &&
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &ReceiveBufferRequest,
                   sizeof ReceiveBufferRequest) != 0)
        return Fail();
    if (setsockopt(fd_, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) != 0 ||
        setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on) != 0)
        return Fail();
    // No SO_REUSEADDR: a second console must not share the port and steal half the datagrams.
    sockaddr_storage local;
    const socklen_t length =
        ToSockaddr(ipv6 ? QHostAddress(QHostAddress::AnyIPv6) : QHostAddress(QHostAddress::AnyIPv4),
                   port, local);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&local), length) != 0) return Fail();
    return true;
}

bool ConsoleSocket::Send(const QByteArray& payload, const QHostAddress& to, quint16 port) {
    sockaddr_storage remote;
    const socklen_t length = ToSockaddr(to, port, remote);
    ssize_t sent;
    do {
        sent = sendto(fd_, payload.constData(), size_t(payload.size()), 0,
                      reinterpret_cast<const sockaddr*>(&remote), length);
    } while (sent < 0 && errno == EINTR);
    return sent >= 0 || Fail();
}

int ConsoleSocket::ReceiveBufferBytes() const {
    int bytes = 0;
    socklen_t length = sizeof bytes;
    getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, &length);
    return bytes;
}

}  // namespace pellux
