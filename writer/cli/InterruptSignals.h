#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>

namespace morven {

// Turns SIGINT and SIGTERM into a call on the event loop's thread, so that a write can end at
// its current wait and close its port instead of dying with the port open.
class InterruptSignals : public QObject {
    Q_OBJECT

public:
    explicit InterruptSignals(std::function<void()> onInterrupt, QObject* parent = nullptr);
    ~InterruptSignals() override;

    // The first signal received, or 0.
    static int Received();

private:
    void Deliver();

    std::function<void()> onInterrupt_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace morven
