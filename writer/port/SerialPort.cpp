#include "SerialPort.h"

#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif
#ifdef Q_OS_UNIX
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace morven {

SerialPort::SerialPort(QObject* parent) : QObject(parent) {
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialPort::OnError);
}

QString SerialPort::DeviceForPort(int portNumber) {
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNumber);
#else
    const QString override =
        qEnvironmentVariable(qPrintable(QStringLiteral("MORVEN_COM%1").arg(portNumber)));
    return override.isEmpty() ? QStringLiteral("/dev/ttyS%1").arg(portNumber - 1) : override;
#endif
}

void SerialPort::SelectPort(int portNumber) {
    portNumber_ = portNumber;
    device_.clear();
}

void SerialPort::SelectDevice(const QString& device) { device_ = device; }

QString SerialPort::Device() const {
    return device_.isEmpty() ? DeviceForPort(portNumber_) : device_;
}

bool SerialPort::OpenPort() {
    failure_.clear();
    port_.setPortName(Device());
    if (!port_.open(QIODevice::ReadWrite)) {
        failure_ = port_.errorString();
        const QFileInfo device(port_.portName());
        if (device.exists() && !device.isWritable())
            failure_ += QStringLiteral(
                " (the user must be in the group that owns the device, e.g. dialout)");
        else if (port_.error() == QSerialPort::PermissionError)
            failure_ += QStringLiteral(" (the port is busy: another program has it open)");
        return false;
    }
    ApplyLineSettings();
    RequestLowLatency();
    return !Failed();
}

void SerialPort::ClosePort() {
    if (port_.isOpen()) port_.close();
}

void SerialPort::SetLineSettings(const QString& settings) {
    lineSettings_ = settings;
    if (port_.isOpen()) ApplyLineSettings();
}

bool SerialPort::ChangeLineSettings(const QString& settings) {
    ClosePort();
    SetLineSettings(settings);
    return OpenPort();
}

int SerialPort::InputCount() const { return static_cast<int>(port_.bytesAvailable()); }

QByteArray SerialPort::ReadInput() { return port_.readAll(); }

void SerialPort::DiscardInput() {
    if (port_.isOpen()) port_.clear(QSerialPort::Input);
}

void SerialPort::WriteBytes(const QByteArray& bytes) {
    if (!port_.isOpen()) return;
    // Bytes still waiting in QSerialPort's buffer go first: nothing may overtake them.
    const qsizetype direct = port_.bytesToWrite() == 0 ? WriteDirect(bytes) : 0;
    if (direct < 0 || direct == bytes.size()) return;
    // What the device would not take at once waits in QSerialPort's buffer.
    port_.write(bytes.constData() + direct, bytes.size() - direct);
    port_.flush();  // on the wire now, not at some later pass of the event loop
}

// Straight to the device where the system allows it: QSerialPort's buffered path arms and
// disarms a write notifier for every write, which costs the event loop two wake-ups per
// handshake. Returns how many bytes the device took, or -1 when the port has failed.
qsizetype SerialPort::WriteDirect(const QByteArray& bytes) {
#ifdef Q_OS_UNIX
    const int fd = static_cast<int>(port_.handle());
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t count =
            ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (count > 0) {
            written += count;
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Fail(QString::fromLocal8Bit(std::strerror(errno)));
            return -1;
        } else {
            break;
        }
    }
    return written;
#else
    Q_UNUSED(bytes);
    return 0;
#endif
}

QString SerialPort::FailureText() const {
    const QString reason = QStringLiteral(": ") + failure_;
    if (!device_.isEmpty()) return device_ + reason;
    return QStringLiteral("COM%1 (").arg(portNumber_) + Device() + QLatin1Char(')') + reason;
}

void SerialPort::OnError(QSerialPort::SerialPortError error) {
    const bool linkBroken = error == QSerialPort::ReadError || error == QSerialPort::WriteError ||
                            error == QSerialPort::ResourceError;
    // An unplugged adapter reports a flood of these; the first one closes the port.
    if (!linkBroken || Failed()) return;
    Fail(port_.errorString());
}

void SerialPort::Fail(const QString& reason) {
    failure_ = reason;
    port_.close();
}

// "baud,parity,data bits,stop bits", e.g. "57600,N,8,1".
void SerialPort::ApplyLineSettings() {
    const QStringList fields = lineSettings_.split(',');
    port_.setBaudRate(fields.value(0).toInt());
    const QString parity = fields.value(1).toUpper();
    port_.setParity(parity == "E"   ? QSerialPort::EvenParity
                    : parity == "O" ? QSerialPort::OddParity
                                    : QSerialPort::NoParity);
    port_.setDataBits(fields.value(2) == "7" ? QSerialPort::Data7 : QSerialPort::Data8);
    port_.setStopBits(fields.value(3) == "2" ? QSerialPort::TwoStop : QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
}

// USB adapters otherwise hold each reply for up to 16 ms, which slows every echoed byte and
// every block handshake. Devices without the setting (a pty) simply keep their behaviour.
void SerialPort::RequestLowLatency() {
#ifdef Q_OS_LINUX
    serial_struct serial{};
    const int fd = static_cast<int>(port_.handle());
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    serial.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &serial);
#endif
}

}  // namespace morven
