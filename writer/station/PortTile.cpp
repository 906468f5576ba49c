#include "PortTile.h"

#include <QCoreApplication>
#include <QVBoxLayout>

#include "StationLabel.h"

namespace morven {

namespace {

// The words are translated in PortTile's context.
struct Look {
    const char* words;  // on the tile
    const char* spoken;
    QColor background;
    QColor text;
};

// Never colour alone: every state has its words, and the colours differ in lightness too.
Look LookOf(PortTile::State state) {
    switch (state) {
        case PortTile::State::Absent:
            return {QT_TRANSLATE_NOOP("morven::PortTile", "ABSENT"),
                    QT_TRANSLATE_NOOP("morven::PortTile", "absent"), QColor(0xD6, 0xD6, 0xD6),
                    Qt::black};
        case PortTile::State::Ready:
            return {QT_TRANSLATE_NOOP("morven::PortTile", "READY"),
                    QT_TRANSLATE_NOOP("morven::PortTile", "ready"), QColor(0xE3, 0xEC, 0xF7),
                    Qt::black};
        case PortTile::State::Writing:
            return {QT_TRANSLATE_NOOP("morven::PortTile", "WRITING"),
                    QT_TRANSLATE_NOOP("morven::PortTile", "writing"), QColor(0xFF, 0xF0, 0xB3),
                    Qt::black};
        case PortTile::State::Passed:
            //: The tile's word for a board that passed; the outcome's own text stays in the
            //: last writes
            return {QT_TRANSLATE_NOOP("morven::PortTile", "O.K."),
                    QT_TRANSLATE_NOOP("morven::PortTile", "O.K."), QColor(0x1B, 0x5E, 0x20),
                    Qt::white};
        case PortTile::State::Failed:
            return {QT_TRANSLATE_NOOP("morven::PortTile", "FAILED"),
                    QT_TRANSLATE_NOOP("morven::PortTile", "failed"), QColor(0xB7, 0x1C, 0x1C),
                    Qt::white};
        case PortTile::State::Interrupted:
            return {QT_TRANSLATE_NOOP("morven::PortTile", "INTERRUPTED"),
                    QT_TRANSLATE_NOOP("morven::PortTile", "interrupted"), QColor(0x8D, 0x4A, 0x00),
                    Qt::white};
    }
    return {};
}

QLabel* AddLabel(QVBoxLayout* layout, qreal scale = 1, bool bold = false) {
    QLabel* label = StationLabel(scale, bold);
    layout->addWidget(label);
    return label;
}

}  // namespace

PortTile::PortTile(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    setAutoFillBackground(true);
    // Reached with Tab, so that a screen reader reads each port in turn.
    setFocusPolicy(Qt::TabFocus);
    auto* layout = new QVBoxLayout(this);
    Title = AddLabel(layout, 1.2, true);
    Device = AddLabel(layout);
    Adapter = AddLabel(layout);
    StateLabel = AddLabel(layout, 2, true);
    Detail = AddLabel(layout);
    Detail->setWordWrap(true);
    Value = AddLabel(layout, 1.2);
    Progress = new QProgressBar;
    Progress->setTextVisible(false);
    Progress->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(Progress);
    layout->addStretch();
    setMinimumWidth(200);
}

void PortTile::ShowPort(const StationPort& port) {
    Title->setText(port.name);
    Device->setText(tr("device %1").arg(port.chosen ? port.chosen->device : QStringLiteral("—")));
    const QString adapterSerial = port.device.adapterSerial;
    Adapter->setText(
        tr("adapter %1").arg(adapterSerial.isEmpty() ? QStringLiteral("—") : adapterSerial));
    Value->clear();
    Progress->setValue(0);
    Progress->setTextVisible(false);
    outcome_.clear();
    Show(port.Present() ? State::Ready : State::Absent, port.absence);
}

void PortTile::ShowWriting(const QString& value) {
    Value->setText(value.isEmpty() ? QString() : tr("value %1").arg(value));
    Progress->setValue(0);
    Progress->setTextVisible(true);
    outcome_.clear();
    Show(State::Writing, tr("opening the port"));
}

void PortTile::ShowResult(const WriteResult& result) {
    if (!result.unitNumber.isEmpty())
        Value->setText(
            (result.outcome == WriteOutcome::Ok ? tr("value %1") : tr("value not used: %1"))
                .arg(result.unitNumber));
    const State state = result.outcome == WriteOutcome::Ok ? State::Passed
                        : result.Cancelled()               ? State::Interrupted
                                                           : State::Failed;
    if (state == State::Passed) Progress->setValue(Progress->maximum());
    Progress->setTextVisible(false);
    outcome_ = result.text;
    // A failure is said in the outcome's own words, as the record has it.
    Show(state, state == State::Passed ? tr("written in %1 s").arg(result.seconds, 0, 'f', 1)
                                       : result.text);
}

// The phase is said in words once; the percent is the bar's own text, so that each step costs
// one repaint and, with a screen reader on, one event.
void PortTile::SetProgressMaximum(WriteStage stage, int maximum) {
    const bool kernel = stage == WriteStage::Kernel;
    Progress->setFormat(kernel ? tr("kernel %p %") : tr("image %p %"));
    Progress->setMaximum(maximum);
    Progress->setValue(0);
    // Whole percents only: a finer bar tells the operator nothing more.
    throttle_.Reset(maximum, 100, 0);
    Show(State::Writing, kernel ? tr("writing the kernel") : tr("writing the image"));
}

void PortTile::SetProgressValue(int value) {
    if (throttle_.Passes(value)) Progress->setValue(value);
}

void PortTile::Show(State state, const QString& detail) {
    state_ = state;
    const Look look = LookOf(state);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, look.background);
    colours.setColor(QPalette::WindowText, look.text);
    setPalette(colours);
    StateLabel->setText(tr(look.words));
    Detail->setText(detail);
    Describe();
    emit Changed();
}

void PortTile::Describe() {
    const Look look = LookOf(state_);
    // The name carries the state, and a screen reader says it when it changes (each setting
    // is announced, so only a change is set).
    const QString name = tr("Port %1: %2").arg(Title->text(), tr(look.spoken));
    if (name != accessibleName()) setAccessibleName(name);
    QStringList parts{Device->text(), Adapter->text()};
    if (!Value->text().isEmpty()) parts << Value->text();
    if (!outcome_.isEmpty())
        parts << tr("outcome: %1").arg(outcome_);
    else if (state_ == State::Writing)
        parts << Detail->text();
    else if (state_ == State::Absent)
        parts << tr("why: %1").arg(Detail->text());
    const QString description = parts.join(QStringLiteral("; "));
    if (description != accessibleDescription()) setAccessibleDescription(description);
}

void PortTile::focusInEvent(QFocusEvent* event) {
    setLineWidth(4);
    QFrame::focusInEvent(event);
}

void PortTile::focusOutEvent(QFocusEvent* event) {
    setLineWidth(1);
    QFrame::focusOutEvent(event);
}

}  // namespace morven
