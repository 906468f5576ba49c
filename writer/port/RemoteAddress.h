#pragma once

#include <QString>
#include <QStringList>
#include <variant>

namespace morven {

// A board on another machine written there by the installed morven-cli, reached through ssh:
// ssh://[USER@]HOST[:PORT]/DEVICE, DEVICE the absolute path of the serial device on HOST.
struct RemoteAddress {
    QString user;  // empty: ssh's own choice (its config, or the local user)
    QString host;
    quint16 port = 0;  // 0: ssh's own choice
    QString device;

    static bool IsUrl(const QString& text);
    // The address, or why the URL is malformed.
    static std::variant<RemoteAddress, QString> Parse(const QString& url);

    // ssh's arguments that name the host: [-l USER] [-p PORT] HOST.
    QStringList SshArguments() const;
};

}  // namespace morven
