#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>

#include "Port.h"

namespace morven {

// A serial device on this machine, binary-transparent.
// Port n (1 to 10) is COMn on Windows; elsewhere the device named by the environment variable
// MORVEN_COMn, or /dev/ttyS(n-1).
class SerialPort : public QObject, public Port {
    Q_OBJECT

public:
    explicit SerialPort(QObject* parent = nullptr);

    static QString DeviceForPort(int portNumber);

    void SelectPort(int portNumber);
    // A device named by its path (/dev/ttyUSB0, /dev/serial/by-id/...) instead of a number.
    void SelectDevice(const QString& device);
    // The device the next OpenPort() opens.
    QString Device() const;
    bool OpenPort() override;
    void ClosePort() override;
    void SetLineSettings(const QString& settings) override;
    // Closes and reopens the device at the new settings, as boards in the field are used to.
    bool ChangeLineSettings(const QString& settings) override;
    int InputCount() const override;
    QByteArray ReadInput() override;
    void DiscardInput() override;
    void WriteBytes(const QByteArray& bytes) override;
    bool Failed() const override { return !failure_.isEmpty(); }
    QString FailureText() const override;

    bool IsOpen() const { return port_.isOpen(); }
    QString LineSettings() const { return lineSettings_; }

private:
    void OnError(QSerialPort::SerialPortError error);
    // Remembers why the port failed and closes it.
    void Fail(const QString& reason);
    qsizetype WriteDirect(const QByteArray& bytes);
    void ApplyLineSettings();
    void RequestLowLatency();

    QSerialPort port_;
    int portNumber_ = 1;
    QString device_;  // set by SelectDevice; empty when chosen by number
    QString lineSettings_ = BootLineSettings;
    QString failure_;
};

}  // namespace morven
