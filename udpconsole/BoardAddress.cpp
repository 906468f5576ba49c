#include "BoardAddress.h"

#include <QHostInfo>

namespace pellux {

QString ConfiguredBoardAddress() {
    return qEnvironmentVariable("PELLUX_BOARD_ADDRESS", QStringLiteral(PELLUX_BOARD_ADDRESS))
        .trimmed();
}

std::variant<QHostAddress, QString> ResolveBoardAddress(const QString& configured) {
    if (configured.isEmpty()) return QStringLiteral("it is empty");
    QHostAddress address(configured);
    if (address.isNull()) {
        const QHostInfo found = QHostInfo::fromName(configured);
        if (found.error() != QHostInfo::NoError || found.addresses().isEmpty())
            return QStringLiteral("the name cannot be resolved (%1)").arg(found.errorString());
        // A bench network is IPv4 first: a name with both kinds of address goes by IPv4.
        address = found.addresses().constFirst();
        for (const QHostAddress& candidate : found.addresses())
            if (candidate.protocol() == QAbstractSocket::IPv4Protocol) {
                address = candidate;
                break;
            }
    }
    // 0.0.0.0 and :: name no peer: Linux delivers such datagrams to this machine itself.
    if (address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6)
        return QStringLiteral("%1 names no board").arg(address.toString());
    return address;
}

}  // namespace pellux
