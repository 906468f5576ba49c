// The station window's gang: its start, its run, and its end by the operator's word, a signal
// or the window's close.
#include <QApplication>
#include <QCloseEvent>
#include <QTimer>

#include "OperatorDialogs.h"
#include "StationWaits.h"
#include "StationWindow.h"
#include "line/InterruptSignals.h"
#include "line/Station.h"
#include "line/StationRun.h"

namespace morven {

// The gang runs from the event loop, not inside the key's or click's handler.
void StationWindow::StartGang() {
    if (run_ || starting_) return;
    if (!setup_.Ready()) {
        Recheck();
        return;
    }
    starting_ = true;
    UpdateButtons();
    QTimer::singleShot(0, this, &StationWindow::RunGang);
}

void StationWindow::RunGang() {
    if (closeRequested_) return;  // a signal came before the gang began
    // Read and checked again: the file may have been rebuilt, a port plugged in or pulled.
    Examine(true);
    starting_ = false;
    if (closeRequested_) return;  // a signal came while the station was checked
    const QList<ChosenPort> ports = setup_.PresentPorts();
    if (!setup_.Ready() || ports.isEmpty()) {
        UpdateButtons();
        return;
    }
    const WriteJob& job = *setup_.job;
    // Unit numbers are taken now, for every board at once, before any port is opened, each
    // on record in the issue log with this station's recipe. Another run holding a state
    // file's lock is waited for, a while; the line's database bounds each of its own waits.
    QStringList portNames;
    for (const ChosenPort& port : ports) portNames << port.name;
    auto images =
        BoardImages(recipe_, job, portNames, Store(),
                    RecipeIssueContext(recipe_, QCoreApplication::arguments()),
                    {database_ ? SignalCame : GiveUpAfter(10000), {}});
    if (const auto* refusal = std::get_if<WriteRefusal>(&images)) {
        const QString why = refusal->outcome == WriteOutcome::Cancelled && !SignalCame()
                                ? tr("Another run held the serial values for 10 seconds. "
                                     "Nothing was sent; start again.")
                                : refusal->text;
        Banner->setText(tr("NOT READY: %1").arg(why));
        Banner->setAccessibleDescription(why);
        Banner->show();
        UpdateButtons();
        return;
    }
    auto& boardImages = std::get<std::vector<BoardImage>>(images);
    UnitNumberText->setText(StandingOfRecipeValues(recipe_, Store()).text);
    QList<PortTile*> writing;
    std::vector<ProgressDisplay*> displays;
    for (qsizetype index = 0; index < Tiles.size(); ++index) {
        if (!setup_.ports[index].Present()) continue;
        Tiles[index]->ShowWriting(boardImages[displays.size()].UnitNumber());
        writing << Tiles[index];
        displays.push_back(Tiles[index]);
    }
    StationRun run(job, ports, std::move(boardImages), displays, &log_);
    run_ = &run;
    // A signal delivered while the values were taken: every board on record, none written.
    if (closeRequested_)
        run.Cancel(StatusSignalBase + InterruptSignals::Received(), QStringLiteral("interrupted"));
    UpdateButtons();
    run.Run([&writing, this](int board, const WriteResult& result) {
        writing[board]->ShowResult(result);
        Recent->Add(result);
    });
    run_ = nullptr;
    // The unit numbers left; the tiles keep this gang's results until the next.
    Examine(false);
    emit GangEnded();
    if (closeRequested_) close();
}

void StationWindow::AskToStop() {
    if (!run_) return;
    OperatorDialogs::AskToConfirm(
        this,
        tr("Stop every write? Each board is recorded as interrupted and must be written again."),
        tr("&Stop every write"), tr("&Go on writing"), [this](bool stop) {
            if (stop && run_) run_->Cancel(StatusStopped, QStringLiteral("interrupted"));
        });
}

void StationWindow::Interrupted() {
    closeRequested_ = true;
    // A box ends too: one saying why the window cannot open runs its own loop before the
    // program's, and a question asked during a gang would wait for an answer nobody gives.
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    if (run_)
        run_->Cancel(StatusSignalBase + InterruptSignals::Received(),
                     QStringLiteral("interrupted"));
    else
        close();
}

// Closing during a gang asks first; closing then ends every write at its current wait, each
// on record, and the window closes once every port is closed again.
void StationWindow::closeEvent(QCloseEvent* event) {
    if (!run_) {
        event->accept();
        return;
    }
    event->ignore();
    OperatorDialogs::AskToConfirm(
        this,
        tr("Boards are being written. Close the window and interrupt every write? Each is "
           "recorded as interrupted."),
        tr("&Close and interrupt"), tr("&Keep writing"), [this](bool closing) {
            if (!closing) return;
            if (!run_) {
                close();
                return;
            }
            closeRequested_ = true;
            run_->Cancel(StatusWindowClosed,
                         QStringLiteral("the window was closed during the write"));
        });
}

}  // namespace morven
