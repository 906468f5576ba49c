#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "Port.h"

namespace morven {

// The writer's port as the operator names it, binary-transparent: port n (1 to 10) is COMn on
// Windows, elsewhere the device named by the environment variable MORVEN_COMn, or
// /dev/ttyS(n-1); or a device path; or rfc2217://HOST:PORT, a serial port on another machine.
// What the name leads to is opened as a local serial device or a network serial port.
class SerialPort : public QObject, public Port {
    Q_OBJECT

public:
    explicit SerialPort(QObject* parent = nullptr);
    ~SerialPort() override;

    static QString DeviceForPort(int portNumber);

    void SelectPort(int portNumber);
    // A device named by its path (/dev/ttyUSB0, /dev/serial/by-id/...) or its URL, instead of a
    // number.
    void SelectDevice(const QString& device);
    // The device or URL the next OpenPort() opens.
    QString Device() const;
    QString LineSettings() const { return lineSettings_; }

    bool OpenPort() override;
    bool Opening() const override;
    void ClosePort() override;
    bool IsOpen() const override;
    void SetLineSettings(const QString& settings) override;
    bool ChangeLineSettings(const QString& settings) override;
    int InputCount() const override;
    QByteArray ReadInput() override;
    void DiscardInput() override;
    void WriteBytes(const QByteArray& bytes) override;
    bool Failed() const override;
    QString FailureText() const override;

private:
    // "COM3 (/dev/ttyUSB0)" or the device as named: how failure texts name the port.
    QString Label() const;
    // The port the selected name leads to, made anew when the name changed.
    Port& Opened();

    int portNumber_ = 1;
    QString device_;  // set by SelectDevice; empty when chosen by number
    QString lineSettings_ = BootLineSettings;
    QString openedName_;
    std::unique_ptr<Port> port_;
    QString failure_;  // why the name leads nowhere (a malformed URL)
};

}  // namespace morven
