#pragma once

#include <QByteArray>
#include <QString>

namespace morven {

// What a write needs of the line to one board, and nothing more: the write sequence and the link
// talk only to this. A local serial device is one kind of port.
class Port {
public:
    static constexpr const char* BootLineSettings = "19200,N,8,1";
    static constexpr const char* KernelLineSettings = "57600,N,8,1";

    virtual ~Port() = default;

    // False when the port cannot be opened; FailureText() then says why. A port that needs time
    // to open (a network connection) starts opening and says so with Opening().
    virtual bool OpenPort() = 0;
    // True while an open is still under way: nothing may be read yet; bytes written wait.
    virtual bool Opening() const { return false; }
    virtual void ClosePort() = 0;
    virtual bool IsOpen() const = 0;
    // "baud,parity,data bits,stop bits"; applies at once when the port is open.
    virtual void SetLineSettings(const QString& settings) = 0;
    // The open port goes on at new settings, with input that arrived before it dropped; no byte
    // written after the call goes out at the old ones. False when the port failed on the way.
    virtual bool ChangeLineSettings(const QString& settings) = 0;
    // Bytes that go out back to back: one system call, on the wire when it returns.
    virtual void WriteBytes(const QByteArray& bytes) = 0;
    virtual int InputCount() const = 0;
    // Takes every waiting byte, in arrival order.
    virtual QByteArray ReadInput() = 0;
    virtual void DiscardInput() = 0;
    // The port has failed since it was last opened (adapter unplugged, I/O error).
    virtual bool Failed() const = 0;
    // "COM3 (/dev/ttyUSB0): <the reason>", or "/dev/ttyUSB0: <reason>"
    virtual QString FailureText() const = 0;

    // What the operator is told when OpenPort() failed.
    QString OpenFailureMessage() const {
        return QStringLiteral("Cannot open the serial port ") + FailureText();
    }
};

}  // namespace morven
