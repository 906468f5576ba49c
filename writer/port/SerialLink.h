#pragma once

#include <QObject>
#include <QTimer>
#include <coroutine>
#include <span>
#include <utility>

#include "Port.h"
#include "Task.h"

namespace morven {

enum class WaitResult { Ok = 0, Timeout = 1, Mismatch = 2, LinkLost = 3 };

// Byte-level link to the target, with the response timer (Timer4) and the delay timer (Timer5).
// Every wait is a loop that looks at the port and the flags once per pass of the event loop:
// it suspends after each look, and DriveLinks resumes it after the next pass. So one thread
// serves several links at once, and the windows stay live.
class SerialLink : public QObject {
    Q_OBJECT

public:
    static constexpr int ResponseLimitMs = 3000;

    explicit SerialLink(Port& port, QObject* parent = nullptr);

    // The port this link talks over.
    Port& Line() { return port_; }
    const Port& Line() const { return port_; }

    void SendByte(quint8 byte);
    // Bytes the protocol sends back to back, with no wait between them, in one write.
    void SendBytes(const QByteArray& bytes);
    void FlushInput();
    // The speed change of the protocol: the port goes on at settings.
    bool ChangeLineSettings(const QString& settings) { return port_.ChangeLineSettings(settings); }
    // Precondition: InputCount() is non-zero. Keeps the first byte and drops the rest.
    quint8 ReadFirstByte();
    void StartTimeoutTimer();
    // Clears TimeoutFlag and starts a fresh countdown of ms on Timer4.
    void ArmTimeout(int ms);
    Task<WaitResult> WaitForByte(quint8 expected);
    // Waits until count bytes are waiting (Ok), TimeoutFlag is set (Timeout) or the link is lost.
    Task<WaitResult> AwaitInput(int count = 1);
    // False when the link was cancelled before the time was up.
    Task<bool> Delay(int ms);
    // Waits while the port is still opening (a network connection); false when it failed or
    // the link was cancelled.
    Task<bool> AwaitOpen();

    // Suspends the wait in progress until the event loop's next pass.
    auto NextPass() {
        struct Awaiter {
            SerialLink& link;
            bool await_ready() const noexcept { return false; }
            void await_suspend(std::coroutine_handle<> wait) noexcept {
                if (link.waiting_) qFatal("two waits at once on one link");
                link.waiting_ = wait;
            }
            void await_resume() const noexcept {}
        };
        return Awaiter{*this};
    }
    bool Waiting() const { return static_cast<bool>(waiting_); }
    // Lets the suspended wait take one more look.
    void ResumeWaiting() {
        if (const auto wait = std::exchange(waiting_, {})) wait.resume();
    }

    // Ends the wait in progress and every later one with LinkLost (a stop, a signal, the window
    // closing, the remote client gone).
    void Cancel() { cancelled_ = true; }
    bool Cancelled() const { return cancelled_; }
    bool LinkLost() const { return cancelled_ || port_.Failed(); }

    quint8 TimeoutFlag = 0;
    qint16 DelayDoneFlag = 0;
    QTimer Timer4;  // response timer
    QTimer Timer5;  // delay timer

private:
    Port& port_;
    bool cancelled_ = false;
    std::coroutine_handle<> waiting_;
};

// Runs every link's started work to its end on this thread's event loop: one pass of the loop
// (which sleeps until a byte, a timer or a window event arrives), then one look by every wait.
void DriveLinks(std::span<SerialLink* const> links);

// Starts task on link and drives it to its end.
template <typename T>
T RunToEnd(SerialLink& link, Task<T> task) {
    task.Start();
    SerialLink* const links[] = {&link};
    DriveLinks(links);
    return task.Result();
}

}  // namespace morven
