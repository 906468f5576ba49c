#include "SerialLink.h"

#include <QCoreApplication>

namespace morven {

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

SerialLink::SerialLink(Port& port, QObject* parent) : QObject(parent), port_(port) {
    MakeOneShot(Timer4, this, [this] { TimeoutFlag = 1; });
    MakeOneShot(Timer5, this, [this] { DelayDoneFlag = 1; });
}

void SerialLink::SendByte(quint8 byte) { port_.WriteBytes(QByteArray(1, static_cast<char>(byte))); }

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

// Looks before it sleeps: input the port already holds ends the wait at once; otherwise the wait
// takes one more look after each pass of the event loop.
Task<WaitResult> SerialLink::AwaitInput(int count) {
    for (;;) {
        if (LinkLost()) co_return WaitResult::LinkLost;
        // Arrived data counts before the flag: a byte that came with the expiry is still in time.
        if (port_.InputCount() >= count) co_return WaitResult::Ok;
        if (TimeoutFlag == 1) co_return WaitResult::Timeout;
        co_await NextPass();
    }
}

Task<WaitResult> SerialLink::WaitForByte(quint8 expected) {
    ArmTimeout(ResponseLimitMs);
    const WaitResult result = co_await AwaitInput();
    if (result != WaitResult::Ok) co_return result;
    co_return ReadFirstByte() == expected ? WaitResult::Ok : WaitResult::Mismatch;
}

Task<bool> SerialLink::Delay(int ms) {
    DelayDoneFlag = 0;
    Timer5.stop();
    Timer5.setInterval(ms);
    Timer5.start();
    while (DelayDoneFlag != 1) {
        if (cancelled_) co_return false;
        co_await NextPass();
    }
    co_return true;
}

Task<bool> SerialLink::AwaitOpen() {
    while (port_.Opening() && !LinkLost()) co_await NextPass();
    co_return !LinkLost();
}

void DriveLinks(std::span<SerialLink* const> links) {
    const auto anyWaiting = [links] {
        for (const SerialLink* link : links)
            if (link->Waiting()) return true;
        return false;
    };
    while (anyWaiting()) {
        AwaitEvents();
        for (SerialLink* link : links) link->ResumeWaiting();
    }
}

}  // namespace morven
