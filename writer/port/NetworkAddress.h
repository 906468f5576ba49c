#pragma once

#include <QString>
#include <variant>

namespace morven {

// Where a network serial port is: rfc2217://HOST:PORT, HOST a name, an IPv4 address or [IPv6].
struct NetworkAddress {
    QString host;
    quint16 port = 0;

    static bool IsUrl(const QString& text);
    // The address, or why the URL is malformed.
    static std::variant<NetworkAddress, QString> Parse(const QString& url);
};

}  // namespace morven
