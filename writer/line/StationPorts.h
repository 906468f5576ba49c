#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "PortChoice.h"
#include "port/SerialDevices.h"

namespace morven {

// A port of a recipe as the station finds it now: what it opens, or why it cannot be written.
struct StationPort {
    QString name;  // as the recipe names it
    std::optional<ChosenPort> chosen;
    SerialDeviceInfo device;
    QString absence;  // empty when the port is there to be written

    bool Present() const { return absence.isEmpty(); }
};

// A recipe's ports, each found on its own: an adapter unplugged or a device missing keeps only
// its own port from being written, and takes no value. Problems (a name that could mean two
// adapters, two names for one device, no port present) keep every port from being written.
struct StationPorts {
    QList<StationPort> ports;
    QStringList problems;    // in the operator's words
    bool noneFound = false;  // every port is absent, and nothing else is wrong
};
// The ports to be written, in the recipe's order.
QList<ChosenPort> PresentPorts(const QList<StationPort>& ports);

// The system's ports are asked for once, and only when a port is named by its adapter.
StationPorts FindStationPorts(const QStringList& names,
                              const std::function<QList<SerialDeviceInfo>()>& systemPorts);

}  // namespace morven
