#include "PortListing.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include "port/SerialDevices.h"
#include "port/SerialPort.h"

namespace morven {

namespace {

QJsonObject DeviceObject(const SerialDeviceInfo& info) {
    return {{"device", info.device},
            {"present", info.present},
            {"by_id", info.byIdName},
            {"description", info.description},
            {"manufacturer", info.manufacturer},
            {"serial", info.adapterSerial},
            {"usb_id", info.usbId}};
}

QString JsonListing(const QList<SerialDeviceInfo>& ports) {
    QJsonArray byNumber;
    for (int n = 1; n <= 10; ++n) {
        QJsonObject port = DeviceObject(DescribeSerialDevice(SerialPort::DeviceForPort(n), ports));
        port.insert("port", QStringLiteral("COM%1").arg(n));
        byNumber << port;
    }
    QJsonArray system;
    for (const SerialDeviceInfo& port : ports) system << DeviceObject(port);
    return QString::fromUtf8(QJsonDocument(QJsonObject{{"com", byNumber}, {"ports", system}})
                                 .toJson(QJsonDocument::Indented));
}

}  // namespace

QString PortListing(bool json) {
    const QList<SerialDeviceInfo> ports = SystemSerialPorts();
    if (json) return JsonListing(ports);
    QStringList lines{QStringLiteral("Ports by number (MORVEN_COMn, else /dev/ttyS(n-1)):")};
    for (int n = 1; n <= 10; ++n) {
        const QString device = SerialPort::DeviceForPort(n);
        const bool mapped =
            qEnvironmentVariableIsSet(qPrintable(QStringLiteral("MORVEN_COM%1").arg(n)));
        lines << QStringLiteral("  COM%1  ").arg(n, -2) +
                     DeviceSummary(DescribeSerialDevice(device, ports)) +
                     (mapped ? QStringLiteral("  (MORVEN_COM%1)").arg(n) : QString());
    }
    lines << QString() << QStringLiteral("Serial ports the system reports:");
    if (ports.isEmpty()) lines << QStringLiteral("  none");
    for (const SerialDeviceInfo& port : ports) {
        lines << QStringLiteral("  ") + port.device;
        const QList<std::pair<const char*, QString>> fields{{"by-id", port.byIdName},
                                                            {"description", port.description},
                                                            {"manufacturer", port.manufacturer},
                                                            {"serial", port.adapterSerial},
                                                            {"usb", port.usbId}};
        for (const auto& [name, value] : fields)
            if (!value.isEmpty())
                lines << QStringLiteral("    %1 %2")
                             .arg(QString::fromLatin1(name) + ':', -14)
                             .arg(value);
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

}  // namespace morven
