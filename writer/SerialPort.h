#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>

namespace morven {

// The writer's one serial port, binary-transparent, used only through these operations.
// Port n (1 to 10) is COMn on Windows; elsewhere the device named by the environment variable
// MORVEN_COMn, or /dev/ttyS(n-1).
class SerialPort : public QObject {
    Q_OBJECT

public:
    static constexpr const char* BootLineSettings = "19200,N,8,1";
    static constexpr const char* KernelLineSettings = "57600,N,8,1";

    explicit SerialPort(QObject* parent = nullptr);

    static QString DeviceForPort(int portNumber);

    void SelectPort(int portNumber);
    // A device named by its path (/dev/ttyUSB0, /dev/serial/by-id/...) instead of a number.
    void SelectDevice(const QString& device);
    // The device the next OpenPort() opens.
    QString Device() const;
    // False when the port cannot be opened; FailureText() then says why.
    bool OpenPort();
    void ClosePort();
    void SetLineSettings(const QString& settings);
    int InputCount() const;
    QByteArray ReadInput();
    void DiscardInput();
    void WriteByte(quint8 byte);
    // Bytes that go out back to back: one system call, on the wire when it returns.
    void WriteBytes(const QByteArray& bytes);

    bool IsOpen() const { return port_.isOpen(); }
    QString LineSettings() const { return lineSettings_; }
    // The port has failed since it was last opened (adapter unplugged, I/O error).
    bool Failed() const { return !failure_.isEmpty(); }
    // "COM3 (/dev/ttyUSB0): <the system's reason>", or "/dev/ttyUSB0: <reason>"
    QString FailureText() const;
    // What the operator is told when OpenPort() failed.
    QString OpenFailureMessage() const;

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
