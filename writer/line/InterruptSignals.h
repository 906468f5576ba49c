#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>

namespace morven {

// Turns SIGINT, SIGTERM and SIGHUP into a call on the event loop's thread, so that the writes
// end at their current waits and close their ports instead of dying with them open. SIGPIPE is
// ignored: output nobody reads is dropped, and the writes go on.
class InterruptSignals : public QObject {
    Q_OBJECT

public:
    explicit InterruptSignals(std::function<void()> onInterrupt, QObject* parent = nullptr);
    ~InterruptSignals() override;

    // The first signal received since the latest of these was made, or 0.
    static int Received();
    // A signal arrived that the event loop has not told of yet: the thread was busy (taking
    // unit numbers, say) since.
    static bool Undelivered();
    // Ends the process by the signal received, as shells and xargs expect to see it.
    [[noreturn]] static void DieBySignal();

private:
    void Deliver();

    std::function<void()> onInterrupt_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace morven
