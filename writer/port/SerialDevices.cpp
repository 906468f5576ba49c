#include "SerialDevices.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>

#include "NetworkAddress.h"
#include "RemoteAddress.h"

namespace morven {

namespace {

QString CanonicalPath(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

// Each /dev/serial/by-id name, by the device it stands for.
QHash<QString, QString> ByIdNames() {
    QHash<QString, QString> names;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files))
        names.insert(link.canonicalFilePath(), link.absoluteFilePath());
    return names;
}

bool OnAnotherMachine(const QString& path) {
    return NetworkAddress::IsUrl(path) || RemoteAddress::IsUrl(path);
}

// A port on another machine: nothing of it can be looked up here.
SerialDeviceInfo NetworkDevice(const QString& url) {
    SerialDeviceInfo info;
    info.device = url;
    info.network = true;
    info.description = RemoteAddress::IsUrl(url)
                           ? QStringLiteral("a serial port on another machine, written there (ssh)")
                           : QStringLiteral("a serial port on another machine (RFC 2217)");
    return info;
}

}  // namespace

QList<SerialDeviceInfo> SystemSerialPorts() {
    const QHash<QString, QString> byIdNames = ByIdNames();
    QList<SerialDeviceInfo> ports;
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts()) {
        SerialDeviceInfo info;
        info.device = port.systemLocation();
        info.present = true;
        info.byIdName = byIdNames.value(CanonicalPath(info.device));
        info.description = port.description();
        info.manufacturer = port.manufacturer();
        info.adapterSerial = port.serialNumber();
        if (port.hasVendorIdentifier() && port.hasProductIdentifier())
            info.usbId = QStringLiteral("%1:%2")
                             .arg(port.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                             .arg(port.productIdentifier(), 4, 16, QLatin1Char('0'));
        ports << info;
    }
    return ports;
}

SerialDeviceInfo DescribeSerialDevice(const QString& path,
                                      const QList<SerialDeviceInfo>& systemPorts) {
    if (OnAnotherMachine(path)) return NetworkDevice(path);
    const QString canonical = CanonicalPath(path);
    SerialDeviceInfo info;
    for (const SerialDeviceInfo& port : systemPorts)
        if (CanonicalPath(port.device) == canonical) info = port;
    info.device = path;
    info.present = QFileInfo::exists(path);
    return info;
}

SerialDeviceInfo DescribeSerialDevice(const QString& path) {
    if (OnAnotherMachine(path)) return NetworkDevice(path);
#ifdef Q_OS_LINUX
    SerialDeviceInfo info;
    info.device = path;
    info.present = QFileInfo::exists(path);
    const QString canonical = CanonicalPath(path);
    info.byIdName = ByIdNames().value(canonical);
    // The USB device the tty belongs to: the first folder above it with a vendor id.
    const QString tty = QFileInfo(canonical).fileName();
    QDir dir(QFileInfo(QStringLiteral("/sys/class/tty/%1/device").arg(tty)).canonicalFilePath());
    const auto attribute = [&dir](const char* name) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed()
                                              : QString();
    };
    for (int up = 0; up < 4 && !dir.path().isEmpty() && !dir.isRoot(); ++up) {
        if (dir.exists(QStringLiteral("idVendor"))) {
            info.description = attribute("product");
            info.manufacturer = attribute("manufacturer");
            info.adapterSerial = attribute("serial");
            info.usbId = attribute("idVendor") + QLatin1Char(':') + attribute("idProduct");
            break;
        }
        if (!dir.cdUp()) break;
    }
    return info;
#else
    return DescribeSerialDevice(path, SystemSerialPorts());
#endif
}

QString DeviceSummary(const SerialDeviceInfo& info) {
    QStringList parts;
    if (!info.network)
        parts << (info.present ? QStringLiteral("present") : QStringLiteral("absent"));
    if (!info.description.isEmpty()) parts << info.description;
    if (!info.adapterSerial.isEmpty()) parts << QStringLiteral("serial ") + info.adapterSerial;
    return info.device + QStringLiteral(" — ") + parts.join(QStringLiteral(", "));
}

}  // namespace morven
