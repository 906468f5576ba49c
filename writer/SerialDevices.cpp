#include "SerialDevices.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace morven {

namespace {

QString CanonicalPath(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

QString ByIdName(const QString& canonicalDevice) {
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files))
        if (link.canonicalFilePath() == canonicalDevice) return link.absoluteFilePath();
    return {};
}

SerialDeviceInfo FromPortInfo(const QString& path, const QSerialPortInfo& port) {
    SerialDeviceInfo info;
    info.device = path;
    info.present = QFileInfo::exists(path);
    info.byIdName = ByIdName(CanonicalPath(path));
    info.description = port.description();
    info.manufacturer = port.manufacturer();
    info.serialNumber = port.serialNumber();
    if (port.hasVendorIdentifier() && port.hasProductIdentifier())
        info.usbId = QStringLiteral("%1:%2")
                         .arg(port.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                         .arg(port.productIdentifier(), 4, 16, QLatin1Char('0'));
    return info;
}

}  // namespace

SerialDeviceInfo DescribeSerialDevice(const QString& path) {
    const QString canonical = CanonicalPath(path);
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts())
        if (CanonicalPath(port.systemLocation()) == canonical) return FromPortInfo(path, port);
    return FromPortInfo(path, QSerialPortInfo());
}

QList<SerialDeviceInfo> SystemSerialPorts() {
    QList<SerialDeviceInfo> ports;
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts())
        ports << FromPortInfo(port.systemLocation(), port);
    return ports;
}

QString DeviceSummary(const SerialDeviceInfo& info) {
    QStringList parts{info.present ? QStringLiteral("present") : QStringLiteral("absent")};
    if (!info.description.isEmpty()) parts << info.description;
    if (!info.serialNumber.isEmpty()) parts << QStringLiteral("serial ") + info.serialNumber;
    return info.device + QStringLiteral(" — ") + parts.join(QStringLiteral(", "));
}

}  // namespace morven
