#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <variant>

#include "port/SerialDevices.h"

namespace morven {

// A port as the user names it: a number 1 to 10 (mapped as in the windows), a device path or
// URL, or an adapter's serial number.
struct PortArgument {
    int number = 0;  // 1..10, or 0 when device or adapterSerial is set
    QString device;  // a path or a URL
    QString adapterSerial;
};

// "COM1".."COM10" (any case), "1".."10", a path ("/dev/ttyUSB0"), "serial:A50285BI",
// "rfc2217://HOST:PORT" or "ssh://[USER@]HOST[:PORT]/DEVICE"; otherwise why the text names no
// port, as a usage error.
std::variant<PortArgument, QString> ParsePortArgument(const QString& text);

// A port a write will open.
struct ChosenPort {
    QString name;    // as the user named it
    int number = 0;  // 1..10 when named by number
    QString device;  // the path or URL opened
};

// What a run's --port options name, resolved against the serial ports the system reports.
// Without any: the one USB serial adapter present. Errors are usage errors, in words.
struct PortChoice {
    QList<ChosenPort> ports;
    QString note;  // said on standard error: which adapter was chosen for the user
};
// Why the ports named cannot be chosen: a usage error, or (absent) an adapter named by its
// serial number is not plugged in, as a device path that does not exist fails to open.
struct PortProblem {
    QString text;
    bool absent = false;
};
// The system's ports are asked for only when needed: enumerating them is slow.
std::variant<PortChoice, PortProblem> ChoosePorts(
    const QStringList& arguments, const std::function<QList<SerialDeviceInfo>()>& systemPorts);

}  // namespace morven
