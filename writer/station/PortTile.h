#pragma once

#include <QFrame>
#include <QLabel>
#include <QProgressBar>

#include "ProgressThrottle.h"
#include "StationSetup.h"
#include "write/ProgressDisplay.h"
#include "write/WriteFlow.h"

namespace morven {

// One port of the station: its name, device and adapter, and its state in words and in colour,
// for the operator at a glance and, through its accessible name and description, for a screen
// reader. A change of state is announced.
class PortTile : public QFrame, public ProgressDisplay {
    Q_OBJECT

public:
    enum class State { Absent, Ready, Writing, Passed, Failed, Interrupted };

    explicit PortTile(QWidget* parent = nullptr);

    // Absent, with why, or ready.
    void ShowPort(const StationPort& port);
    // A write begins; value is the board's unit number, if any.
    void ShowWriting(const QString& value);
    void ShowResult(const WriteResult& result);

    void SetProgressMaximum(WriteStage stage, int maximum) override;
    void SetProgressValue(int value) override;

    State CurrentState() const { return state_; }

    QLabel* Title;
    QLabel* Device;
    QLabel* Adapter;
    QLabel* StateLabel;  // the state in words: "READY", "WRITING", "O.K.", "FAILED"…
    QLabel* Detail;      // the phase, the outcome's text, or why the port is absent
    QLabel* Value;       // the unit number written
    QProgressBar* Progress;  // while writing, the phase and percent as its text

signals:
    // The state or the phase changed.
    void Changed();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void Show(State state, const QString& detail);
    void Describe();

    State state_ = State::Ready;
    QString outcome_;  // the last write's, until the next begins
    ProgressThrottle throttle_;
};

}  // namespace morven
