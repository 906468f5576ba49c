#include "SerialLink.h"

#include <QCoreApplication>

namespace morven {

void PumpEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

namespace {

// Sleeps in the event loop until something happens (a byte, a timer, a window event), then
// processes it: no busy spinning between passes.
void AwaitEvents() { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); }

void MakeOneShot(QTimer& timer, QObject* context, auto onExpiry) {
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, context, onExpiry);
}

}  // namespace

SerialLink::SerialLink(SerialPort& port, QObject* parent) : QObject(parent), port_(port) {
    MakeOneShot(Timer4, this, [this] { TimeoutFlag = 1; });
    MakeOneShot(Timer5, this, [this] { DelayDoneFlag = 1; });
}

void SerialLink::SendByte(quint8 byte) { port_.WriteByte(byte); }

void SerialLink::SendBytes(const QByteArray& bytes) { port_.WriteBytes(bytes); }

void SerialLink::FlushInput() { port_.DiscardInput(); }

quint8 SerialLink::ReadFirstByte() {
    const QByteArray input = port_.ReadInput();
    port_.DiscardInput();
    return input.isEmpty() ? 0 : static_cast<quint8>(input.front());
}

// Restarting drops any expiry still pending from an earlier countdown.
void SerialLink::StartTimeoutTimer() { Timer4.start(); }

void SerialLink::ArmTimeout(int ms) {
    TimeoutFlag = 0;
    Timer4.stop();
    Timer4.setInterval(ms);
    StartTimeoutTimer();
}

// Looks before it sleeps: input the port already holds ends the wait at once; otherwise one
// event-loop pass takes whatever arrives first.
WaitResult SerialLink::AwaitInput() {
    for (;;) {
        if (LinkLost()) return WaitResult::LinkLost;
        // Arrived data counts before the flag: a byte that came with the expiry is still in time.
        if (port_.InputCount() != 0) return WaitResult::Ok;
        if (TimeoutFlag == 1) return WaitResult::Timeout;
        AwaitEvents();
    }
}

WaitResult SerialLink::WaitForByte(quint8 expected) {
    ArmTimeout(ResponseLimitMs);
    const WaitResult result = AwaitInput();
    if (result != WaitResult::Ok) return result;
    return ReadFirstByte() == expected ? WaitResult::Ok : WaitResult::Mismatch;
}

void SerialLink::Delay(int ms) {
    DelayDoneFlag = 0;
    Timer5.stop();
    Timer5.setInterval(ms);
    Timer5.start();
    PumpEvents();
    while (DelayDoneFlag != 1 && !cancelled_) AwaitEvents();
}

}  // namespace morven
