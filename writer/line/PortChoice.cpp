#include "PortChoice.h"

#include <QFileInfo>

#include "port/NetworkAddress.h"
#include "port/RemoteAddress.h"
#include "port/SerialPort.h"

namespace morven {

namespace {

const QString AdapterSerialPrefix = QStringLiteral("serial:");

QString Canonical(const QString& device) {
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

QString Candidates(const QList<SerialDeviceInfo>& adapters) {
    QStringList lines;
    for (const SerialDeviceInfo& adapter : adapters)
        lines << QStringLiteral("  ") + DeviceSummary(adapter);
    return lines.isEmpty() ? QStringLiteral("  none") : lines.join(QLatin1Char('\n'));
}

std::variant<ChosenPort, PortProblem> Resolve(
    const QString& name, const std::function<QList<SerialDeviceInfo>()>& systemPorts) {
    const auto parsed = ParsePortArgument(name);
    if (const auto* error = std::get_if<QString>(&parsed)) return PortProblem{*error};
    const auto* argument = &std::get<PortArgument>(parsed);
    if (argument->number > 0)
        return ChosenPort{name, argument->number, SerialPort::DeviceForPort(argument->number)};
    if (!argument->device.isEmpty()) return ChosenPort{name, 0, argument->device};
    QStringList matches;
    for (const SerialDeviceInfo& port : systemPorts())
        if (port.adapterSerial == argument->adapterSerial) matches << port.device;
    if (matches.size() == 1) return ChosenPort{name, 0, matches.front()};
    // Cloned adapters often share one number: never guess which board is meant.
    if (matches.size() > 1)
        return PortProblem{name + QStringLiteral(" names %1 adapters: ").arg(matches.size()) +
                           matches.join(QStringLiteral(", ")) +
                           QStringLiteral("; name the device path instead")};
    return PortProblem{
        QStringLiteral("no serial adapter plugged in has the serial number %1 (see --list-ports)")
            .arg(argument->adapterSerial),
        true};
}

}  // namespace

std::variant<PortArgument, QString> ParsePortArgument(const QString& text) {
    if (NetworkAddress::IsUrl(text)) {
        const auto address = NetworkAddress::Parse(text);
        if (const auto* error = std::get_if<QString>(&address))
            return QStringLiteral("bad port '") + text + QStringLiteral("': ") + *error;
        return PortArgument{0, text, {}};
    }
    if (RemoteAddress::IsUrl(text)) {
        const auto address = RemoteAddress::Parse(text);
        if (const auto* error = std::get_if<QString>(&address))
            return QStringLiteral("bad port '") + text + QStringLiteral("': ") + *error;
        return PortArgument{0, text, {}};
    }
    if (text.startsWith(AdapterSerialPrefix) && text.size() > AdapterSerialPrefix.size())
        return PortArgument{0, {}, text.mid(AdapterSerialPrefix.size())};
    if (text.contains(QLatin1Char('/'))) return PortArgument{0, text, {}};
    QString digits = text;
    if (digits.startsWith(QStringLiteral("COM"), Qt::CaseInsensitive)) digits = digits.mid(3);
    bool isNumber = false;
    const int number = digits.toInt(&isNumber);
    // Only plain digits: toInt() would also take " 3" or "+3".
    const bool plainDigits = !digits.isEmpty() && digits.front().isDigit() && digits.size() <= 2;
    if (!isNumber || !plainDigits || number < 1 || number > 10)
        return QStringLiteral("bad port '") + text +
               QStringLiteral(
                   "': use COM1 to COM10, 1 to 10, a device path, serial:NUMBER, "
                   "rfc2217://HOST:PORT or ssh://[USER@]HOST[:PORT]/DEVICE");
    return PortArgument{number, {}, {}};
}

std::variant<PortChoice, PortProblem> ChoosePorts(
    const QStringList& arguments, const std::function<QList<SerialDeviceInfo>()>& systemPorts) {
    PortChoice choice;
    if (arguments.isEmpty()) {
        // Never a guess such as /dev/ttyS0, often a serial console: only an unambiguous adapter.
        QList<SerialDeviceInfo> adapters;
        for (const SerialDeviceInfo& port : systemPorts())
            if (!port.usbId.isEmpty()) adapters << port;
        if (adapters.size() != 1)
            return PortProblem{QStringLiteral("no --port given, and there is not exactly one USB "
                                              "serial adapter to use; the adapters present:\n%1")
                                   .arg(Candidates(adapters))};
        choice.ports << ChosenPort{adapters[0].device, 0, adapters[0].device};
        choice.note = QStringLiteral("no --port given: using the only USB serial adapter, %1")
                          .arg(DeviceSummary(adapters[0]));
        return choice;
    }
    for (const QString& name : arguments) {
        auto resolved = Resolve(name, systemPorts);
        if (const auto* problem = std::get_if<PortProblem>(&resolved)) return *problem;
        const ChosenPort& port = std::get<ChosenPort>(resolved);
        for (const ChosenPort& earlier : choice.ports)
            if (Canonical(earlier.device) == Canonical(port.device))
                return PortProblem{QStringLiteral("--port %1 and --port %2 name the same device %3")
                                       .arg(earlier.name, port.name, Canonical(port.device))};
        choice.ports << port;
    }
    return choice;
}

}  // namespace morven
