#include "StationPorts.h"

namespace morven {

QList<ChosenPort> PresentPorts(const QList<StationPort>& ports) {
    QList<ChosenPort> present;
    for (const StationPort& port : ports)
        if (port.Present()) present << *port.chosen;
    return present;
}

StationPorts FindStationPorts(const QStringList& names,
                              const std::function<QList<SerialDeviceInfo>()>& systemPorts) {
    std::optional<QList<SerialDeviceInfo>> system;
    const auto onceOnly = [&system, &systemPorts] {
        if (!system) system = systemPorts();
        return *system;
    };
    StationPorts found;
    QStringList present;
    for (const QString& name : names) {
        StationPort port{name, std::nullopt, {}, {}};
        auto chosen = ChoosePorts({name}, onceOnly);
        if (const auto* problem = std::get_if<PortProblem>(&chosen)) {
            port.absence = problem->text;
            // A name that could mean two adapters is the station's fault, not the board's.
            if (!problem->absent) found.problems << problem->text + u'.';
        } else {
            port.chosen = std::get<PortChoice>(chosen).ports.front();
            port.device = DescribeSerialDevice(port.chosen->device);
            if (!port.device.network && !port.device.present)
                port.absence = QStringLiteral("no device at ") + port.chosen->device;
            else
                present << name;
        }
        found.ports << port;
    }
    if (present.isEmpty()) {
        found.noneFound = found.problems.isEmpty();
        found.problems << QStringLiteral("None of the recipe's ports is present.");
        return found;
    }
    // Two names for one device would be written twice at once.
    if (const auto chosen = ChoosePorts(present, onceOnly);
        const auto* problem = std::get_if<PortProblem>(&chosen))
        found.problems << problem->text + u'.';
    return found;
}

}  // namespace morven
