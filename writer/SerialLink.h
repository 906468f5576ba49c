#pragma once

#include <QObject>
#include <QTimer>

#include "SerialPort.h"

namespace morven {

enum class WaitResult { Ok = 0, Timeout = 1, Mismatch = 2, LinkLost = 3 };

// Processes pending window, input and timer events once and returns.
void PumpEvents();

// Byte-level link to the target, with the response timer (Timer4) and the delay timer (Timer5).
// Every wait runs on the caller's thread and keeps the windows live.
class SerialLink : public QObject {
    Q_OBJECT

public:
    static constexpr int ResponseLimitMs = 3000;

    explicit SerialLink(SerialPort& port, QObject* parent = nullptr);

    SerialPort& Port() { return port_; }

    void SendByte(quint8 byte);
    // Bytes the protocol sends back to back, with no wait between them, in one write.
    void SendBytes(const QByteArray& bytes);
    void FlushInput();
    // Precondition: InputCount() is non-zero. Keeps the first byte and drops the rest.
    quint8 ReadFirstByte();
    void StartTimeoutTimer();
    // Clears TimeoutFlag and starts a fresh countdown of ms on Timer4.
    void ArmTimeout(int ms);
    WaitResult WaitForByte(quint8 expected);
    // Waits until input is waiting (Ok), TimeoutFlag is set (Timeout) or the link is lost.
    WaitResult AwaitInput();
    void Delay(int ms);

    // Ends the wait in progress and every later one with LinkLost (the window is closing).
    void Cancel() { cancelled_ = true; }
    bool Cancelled() const { return cancelled_; }
    bool LinkLost() const { return cancelled_ || port_.Failed(); }

    quint8 TimeoutFlag = 0;
    qint16 DelayDoneFlag = 0;
    QTimer Timer4;  // response timer
    QTimer Timer5;  // delay timer

private:
    SerialPort& port_;
    bool cancelled_ = false;
};

}  // namespace morven
