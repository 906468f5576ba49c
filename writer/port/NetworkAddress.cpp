#include "NetworkAddress.h"

#include <QHostAddress>

namespace morven {

namespace {

const QString Scheme = QStringLiteral("rfc2217://");

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

}  // namespace morven
