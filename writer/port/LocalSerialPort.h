#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>

#include "Port.h"

namespace morven {

// A serial device on this machine, binary-transparent, through QSerialPort.
class LocalSerialPort : public QObject, public Port {
    Q_OBJECT

public:
    // label names the port in failure texts: "COM3 (/dev/ttyUSB0)" or "/dev/ttyUSB0".
    LocalSerialPort(QString device, QString label, QObject* parent = nullptr);

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
    bool IsOpen() const override { return port_.isOpen(); }

private:
    void OnError(QSerialPort::SerialPortError error);
    // Remembers why the port failed and closes it.
    void Fail(const QString& reason);
    qsizetype WriteDirect(const QByteArray& bytes);
    void ApplyLineSettings();
    void RequestLowLatency();

    QSerialPort port_;
    QString device_;
    QString label_;
    QString lineSettings_ = BootLineSettings;
    QString failure_;
};

}  // namespace morven
