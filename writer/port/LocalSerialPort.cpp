#include "LocalSerialPort.h"

#include <QFileInfo>

#include "LineSettings.h"

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

LocalSerialPort::LocalSerialPort(QString device, QString label, QObject* parent)
    : QObject(parent), device_(std::move(device)), label_(std::move(label)) {
    connect(&port_, &QSerialPort::errorOccurred, this, &LocalSerialPort::OnError);
}

bool LocalSerialPort::OpenPort() {
    failure_.clear();
    port_.setPortName(device_);
    if (!port_.open(QIODevice::ReadWrite)) {
        failure_ = port_.errorString();
        const QFileInfo device(port_.portName());
        if (device.exists() && !device.isWritable())
            failure_ += QStringLiteral(
                " (the user must be in the group that owns the device, e.g. dialout)");
        else if (port_.error() == QSerialPort::PermissionError)
            // The device itself may be opened: what refused is another program's lock on it
            // (Qt words that "Permission error while locking the device").
            failure_ = QStringLiteral("the port is busy: another program has it open");
        return false;
    }
    ApplyLineSettings();
    RequestLowLatency();
    return !Failed();
}

void LocalSerialPort::ClosePort() {
    if (port_.isOpen()) port_.close();
}

void LocalSerialPort::SetLineSettings(const QString& settings) {
    lineSettings_ = settings;
    if (port_.isOpen()) ApplyLineSettings();
}

bool LocalSerialPort::ChangeLineSettings(const QString& settings) {
    ClosePort();
    SetLineSettings(settings);
    return OpenPort();
}

int LocalSerialPort::InputCount() const { return static_cast<int>(port_.bytesAvailable()); }

QByteArray LocalSerialPort::ReadInput() { return port_.readAll(); }

void LocalSerialPort::DiscardInput() {
    if (port_.isOpen()) port_.clear(QSerialPort::Input);
}

void LocalSerialPort::WriteBytes(const QByteArray& bytes) {
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
qsizetype LocalSerialPort::WriteDirect(const QByteArray& bytes) {
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

QString LocalSerialPort::FailureText() const { return label_ + QStringLiteral(": ") + failure_; }

void LocalSerialPort::OnError(QSerialPort::SerialPortError error) {
    const bool linkBroken = error == QSerialPort::ReadError || error == QSerialPort::WriteError ||
                            error == QSerialPort::ResourceError;
    // An unplugged adapter reports a flood of these; the first one closes the port.
    if (!linkBroken || Failed()) return;
    // A read that finds the device gone (end of file, EIO) leaves whatever errno came before in
    // errorString(): say what happened instead.
    Fail(QStringLiteral("the port went away during the write (unplugged, or the board's side "
                        "closed)"));
}

void LocalSerialPort::Fail(const QString& reason) {
    failure_ = reason;
    port_.close();
}

void LocalSerialPort::ApplyLineSettings() {
    const LineSettings settings = LineSettings::Parse(lineSettings_);
    port_.setBaudRate(settings.baud);
    port_.setParity(settings.parity == LineSettings::Parity::Even  ? QSerialPort::EvenParity
                    : settings.parity == LineSettings::Parity::Odd ? QSerialPort::OddParity
                                                                   : QSerialPort::NoParity);
    port_.setDataBits(settings.dataBits == 7 ? QSerialPort::Data7 : QSerialPort::Data8);
    port_.setStopBits(settings.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
}

// USB adapters otherwise hold each reply for up to 16 ms, which slows every echoed byte and
// every block handshake. Devices without the setting (a pty) simply keep their behaviour.
void LocalSerialPort::RequestLowLatency() {
#ifdef Q_OS_LINUX
    serial_struct serial{};
    const int fd = static_cast<int>(port_.handle());
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    serial.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &serial);
#endif
}

}  // namespace morven
