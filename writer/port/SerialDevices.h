#pragma once

#include <QList>
#include <QString>

namespace morven {

// What the system reports of one serial device.
struct SerialDeviceInfo {
    QString device;  // the path as given, e.g. /dev/ttyUSB0
    bool present = false;
    QString byIdName;  // its /dev/serial/by-id name, when it has one
    QString description;
    QString manufacturer;
    QString adapterSerial;
    QString usbId;         // "vendor:product" in hex, for USB adapters
    bool network = false;  // rfc2217:// or ssh://: a port on another machine
};

// Every serial port the system reports.
QList<SerialDeviceInfo> SystemSerialPorts();
// The device at path (symbolic links followed), with what systemPorts say of it.
SerialDeviceInfo DescribeSerialDevice(const QString& path,
                                      const QList<SerialDeviceInfo>& systemPorts);
// The same for one device, without enumerating every port of the system (which reads thousands
// of files on Linux): what a write records and a tooltip shows.
SerialDeviceInfo DescribeSerialDevice(const QString& path);
// "/dev/ttyUSB0 — present, FT232R USB UART, serial A50285BI"
QString DeviceSummary(const SerialDeviceInfo& info);

}  // namespace morven
