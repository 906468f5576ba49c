#include "SerialPort.h"

#include "LocalSerialPort.h"
#include "NetworkSerialPort.h"
#include "RemoteAddress.h"

namespace morven {

SerialPort::SerialPort(QObject* parent) : QObject(parent) {}

SerialPort::~SerialPort() = default;

QString SerialPort::DeviceForPort(int portNumber) {
    const QString override =
        qEnvironmentVariable(qPrintable(QStringLiteral("MORVEN_COM%1").arg(portNumber)));
    if (!override.isEmpty()) return override;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNumber);
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
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

QString SerialPort::Label() const {
    if (!device_.isEmpty()) return device_;
    return QStringLiteral("COM%1 (").arg(portNumber_) + Device() + QLatin1Char(')');
}

Port& SerialPort::Opened() {
    const QString name = Device();
    if (port_ && name == openedName_) return *port_;
    port_.reset();
    failure_.clear();
    openedName_ = name;
    if (RemoteAddress::IsUrl(name)) {
        // Written on the board's own machine, by its morven-cli: there is no line to it here.
        failure_ = QStringLiteral(
            "a board named by ssh:// is written by morven-cli on its own "
            "machine; this program opens no line to it");
        port_ = std::make_unique<LocalSerialPort>(name, Label());  // never opened
    } else if (!NetworkAddress::IsUrl(name)) {
        port_ = std::make_unique<LocalSerialPort>(name, Label());
    } else if (const auto address = NetworkAddress::Parse(name);
               const auto* parsed = std::get_if<NetworkAddress>(&address)) {
        port_ = std::make_unique<NetworkSerialPort>(*parsed, name);
    } else {
        failure_ = std::get<QString>(address);
        port_ = std::make_unique<LocalSerialPort>(name, Label());  // never opened
    }
    port_->SetLineSettings(lineSettings_);
    return *port_;
}

bool SerialPort::OpenPort() {
    Port& port = Opened();
    return failure_.isEmpty() && port.OpenPort();
}

bool SerialPort::Opening() const { return port_ && port_->Opening(); }

void SerialPort::ClosePort() {
    if (port_) port_->ClosePort();
}

bool SerialPort::IsOpen() const { return port_ && port_->IsOpen(); }


void SerialPort::SetLineSettings(const QString& settings) {
    lineSettings_ = settings;
    if (port_) port_->SetLineSettings(settings);
}

bool SerialPort::ChangeLineSettings(const QString& settings) {
    lineSettings_ = settings;
    return port_ && port_->ChangeLineSettings(settings);
}

int SerialPort::InputCount() const { return port_ ? port_->InputCount() : 0; }

QByteArray SerialPort::ReadInput() { return port_ ? port_->ReadInput() : QByteArray(); }

void SerialPort::DiscardInput() {
    if (port_) port_->DiscardInput();
}

void SerialPort::WriteBytes(const QByteArray& bytes) {
    if (port_) port_->WriteBytes(bytes);
}

bool SerialPort::Failed() const { return !failure_.isEmpty() || (port_ && port_->Failed()); }

QString SerialPort::FailureText() const {
    if (!failure_.isEmpty()) return Label() + QStringLiteral(": ") + failure_;
    return port_ ? port_->FailureText() : Label();
}

}  // namespace morven
