#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>

namespace pellux {

// SIGINT, SIGTERM and SIGHUP end the console as closing its window does, so that the reader
// logs the batch in hand before the process goes. They are taken from a signalfd: Block() must
// run before any thread starts, so that every thread leaves them to it.
class EndSignals : public QObject {
    Q_OBJECT

public:
    static void Block();
    explicit EndSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~EndSignals() override;

    // The signal received, or 0.
    int Received() const { return received_; }
    // Ends the process by that signal, as a shell or a service manager expects to see it.
    [[noreturn]] void DieBySignal() const;

private:
    void Deliver();

    int fd_;
    int received_ = 0;
    std::function<void()> onSignal_;
    QSocketNotifier* notifier_;
};

}  // namespace pellux
