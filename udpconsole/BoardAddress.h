#pragma once

#include <QHostAddress>
#include <QString>
#include <variant>

namespace pellux {

// The board's address as configured: PELLUX_BOARD_ADDRESS from the environment, else the one
// built in. A host name, an IPv4 or an IPv6 address.
QString ConfiguredBoardAddress();

// The address datagrams go to: a literal as it is, a name resolved once, now. Otherwise why it
// cannot be used, in words.
std::variant<QHostAddress, QString> ResolveBoardAddress(const QString& configured);

}  // namespace pellux
