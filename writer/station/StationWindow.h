#pragma once

#include <QLabel>
#include <QList>
#include <QPushButton>
#include <QWidget>
#include <optional>

#include "PortTile.h"
#include "RecentWrites.h"
#include "StationSetup.h"
#include "line/Recipe.h"
#include "record/WriteRecord.h"
#include "serial/DatabaseUnitNumberStore.h"
#include "serial/UnitNumberStateFile.h"

namespace morven {

class StationRun;

// A production station's one window: the recipe at the top, a tile per port, one key to write
// every present board (Enter or F5), Esc to stop them all, and the totals and last writes.
// The checks, the unit numbers, the writes and their records are the line's, as morven-cli
// runs them. A station that is not ready is examined again on the operator's word (the same
// keys, or Check again), never behind their back: a check reads the files, scans the ports and
// asks the database.
class StationWindow : public QWidget {
    Q_OBJECT

public:
    explicit StationWindow(QWidget* parent = nullptr);
    ~StationWindow() override;

    // Reads the recipe and checks the station. False when the recipe itself cannot be used: the
    // operator has been told why, in a box and on standard error, and the program is to end
    // (by the signal, when one ended the box).
    bool Load(const QString& recipePath);

    bool Writing() const { return run_ != nullptr; }

    // A write the operator stopped is recorded with this status (as an interrupt, SIGINT) and
    // the words "interrupted".
    static constexpr int StatusStopped = StatusSignalBase + 2;

    QLabel* RecipeText;
    QLabel* SignerText;
    QLabel* ImageText;
    QLabel* KernelText;
    QLabel* StrictText;
    QLabel* UnitNumberText;
    QLabel* Banner;  // what keeps the station from writing; hidden when it is ready
    QPushButton* CheckAgain;  // beside the banner: examines the station again
    QList<PortTile*> Tiles;
    QPushButton* Start;
    QPushButton* Stop;
    RecentWrites* Recent;
    QLabel* LogWarning;

signals:
    // Every board of a gang has ended, each on record.
    void GangEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Reads the file and kernel again and checks everything; the tiles show the ports when
    // showPorts, else they keep the last gang's results.
    void Examine(bool showPorts);
    // Enter, F5 or Start: the gang when the station is ready, else a check again.
    void StartGang();
    void Recheck();
    void RunGang();
    void AskToStop();
    // SIGINT, SIGTERM or SIGHUP (a logout, a shutdown): every write ends on record, and the
    // window closes; the program then ends by the signal.
    void Interrupted();
    void UpdateButtons();
    // The line's database when the recipe's unit-number state names one, else the state file.
    UnitNumberStore& Store();

    Recipe recipe_;
    UnitNumberStateFile files_;
    std::unique_ptr<DatabaseUnitNumberStore> database_;
    StationSetup setup_;
    WriteLog log_;
    StationRun* run_ = nullptr;
    bool starting_ = false;
    bool closeRequested_ = false;
};

}  // namespace morven
