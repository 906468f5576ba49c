#include "RemoteAddress.h"

#include <QHostAddress>

namespace morven {

namespace {

const QString Scheme = QStringLiteral("ssh://");

// Nothing that ssh or a shell could take for something else: no option, no space, no quote.
bool PlainWord(const QString& text) {
    if (text.isEmpty() || text.startsWith(QLatin1Char('-'))) return false;
    for (const QChar c : text)
        if (c.isSpace() || c.category() == QChar::Other_Control ||
            QStringLiteral("'\"`$\\;&|<>*?()[]{}!#~").contains(c))
            return false;
    return true;
}

}  // namespace

bool RemoteAddress::IsUrl(const QString& text) {
    return text.startsWith(Scheme, Qt::CaseInsensitive);
}

std::variant<RemoteAddress, QString> RemoteAddress::Parse(const QString& url) {
    const QString usage = QStringLiteral(
        "a board through ssh is ssh://[USER@]HOST[:PORT]/DEVICE, DEVICE the "
        "device's path on HOST");
    if (!IsUrl(url)) return usage;
    const QString rest = url.mid(Scheme.size());
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    if (slash < 0 || slash + 1 >= rest.size()) return usage;
    RemoteAddress address;
    address.device = rest.mid(slash);
    QString authority = rest.left(slash);
    if (const qsizetype at = authority.lastIndexOf(QLatin1Char('@')); at >= 0) {
        address.user = authority.left(at);
        authority = authority.mid(at + 1);
        if (!PlainWord(address.user)) return QStringLiteral("the user name is empty or not plain");
    }
    QString portText;
    if (authority.startsWith(QLatin1Char('['))) {
        const qsizetype close = authority.indexOf(QLatin1Char(']'));
        if (close < 0)
            return QStringLiteral("an IPv6 address goes in brackets: ssh://[::1]/DEVICE");
        address.host = authority.mid(1, close - 1);
        if (QHostAddress(address.host).protocol() != QAbstractSocket::IPv6Protocol)
            return QStringLiteral("[") + address.host + QStringLiteral("] is not an IPv6 address");
        const QString after = authority.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(QLatin1Char(':')))
            return QStringLiteral("the host is not a name or an address");
        portText = after.mid(1);
        if (after.isEmpty())
            portText.clear();
        else if (portText.isEmpty())
            return QStringLiteral("the port must be a number from 1 to 65535");
    } else {
        const qsizetype colon = authority.indexOf(QLatin1Char(':'));
        address.host = colon < 0 ? authority : authority.left(colon);
        if (colon >= 0) {
            portText = authority.mid(colon + 1);
            if (portText.contains(QLatin1Char(':')))
                return QStringLiteral("an IPv6 address goes in brackets: ssh://[::1]/DEVICE");
            if (portText.isEmpty())
                return QStringLiteral("the port must be a number from 1 to 65535");
        }
    }
    if (address.host.isEmpty()) return QStringLiteral("the host is empty");
    if (!PlainWord(address.host)) return QStringLiteral("the host is not a name or an address");
    if (!portText.isEmpty()) {
        bool ok = false;
        const uint port = portText.toUInt(&ok, 10);
        if (!ok || port < 1 || port > 65535 || !portText.front().isDigit())
            return QStringLiteral("the port must be a number from 1 to 65535");
        address.port = static_cast<quint16>(port);
    }
    if (address.device.contains(QLatin1Char('\0')) || address.device.contains(QLatin1Char('\n')))
        return QStringLiteral("the device's path is not a path");
    return address;
}

QStringList RemoteAddress::SshArguments() const {
    QStringList arguments;
    if (!user.isEmpty()) arguments << QStringLiteral("-l") << user;
    if (port != 0) arguments << QStringLiteral("-p") << QString::number(port);
    return arguments << host;
}

}  // namespace morven
