#include "StationWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "OperatorDialogs.h"
#include "StationLabel.h"
#include "StationWaits.h"
#include "WindowFont.h"
#include "line/InterruptSignals.h"
#include "line/Station.h"
#include "line/StationRun.h"

namespace morven {

namespace {

constexpr int TilesPerRow = 4;

// What keeps the window from opening: said on standard error too, where a session's log or a
// terminal keeps it.
void Refuse(QWidget* parent, const QString& why) {
    std::fprintf(stderr, "morven-station: %s\n", qPrintable(why));
    OperatorDialogs::ShowMessage(parent, why);
}

QLabel* ValueLabel() {
    QLabel* label = StationLabel(10 / common::WindowFont().pointSizeF());
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

}  // namespace

StationWindow::StationWindow(QWidget* parent)
    : QWidget(parent),
      log_({}, [](const QString&) {}) {
    new InterruptSignals([this] { Interrupted(); }, this);
    setWindowTitle(tr("MORVEN station"));
    QFont font = common::WindowFont();
    font.setPointSizeF(10);
    setFont(font);
    auto* layout = new QVBoxLayout(this);

    auto* header = new QFormLayout;
    RecipeText = ValueLabel();
    SignerText = ValueLabel();
    ImageText = ValueLabel();
    KernelText = ValueLabel();
    StrictText = ValueLabel();
    UnitNumberText = ValueLabel();
    header->addRow(tr("Recipe:"), RecipeText);
    header->addRow(tr("Signed by:"), SignerText);
    header->addRow(tr("Image:"), ImageText);
    header->addRow(tr("Kernel:"), KernelText);
    header->addRow(tr("Strict:"), StrictText);
    header->addRow(tr("Serial numbers:"), UnitNumberText);
    layout->addLayout(header);

    Banner = new QLabel;
    Banner->setWordWrap(true);
    Banner->setAutoFillBackground(true);
    Banner->setMargin(8);
    QPalette alarm = Banner->palette();
    alarm.setColor(QPalette::Window, QColor(0xB7, 0x1C, 0x1C));
    alarm.setColor(QPalette::WindowText, Qt::white);
    Banner->setPalette(alarm);
    Banner->setAccessibleName(tr("Not ready"));
    Banner->hide();
    CheckAgain = new QPushButton(tr("Check again (F5)"));
    CheckAgain->setAccessibleDescription(
        tr("Examines the station again: the files, the ports and the serial numbers"));
    CheckAgain->hide();
    auto* notReady = new QHBoxLayout;
    notReady->addWidget(Banner, 1);
    notReady->addWidget(CheckAgain, 0, Qt::AlignTop);
    layout->addLayout(notReady);

    auto* tiles = new QGridLayout;
    tiles->setObjectName(QStringLiteral("tiles"));
    layout->addLayout(tiles);

    auto* controls = new QHBoxLayout;
    Start = new QPushButton(tr("Start (Enter)"));
    QFont big = font;
    big.setPointSizeF(font.pointSizeF() * 1.8);
    big.setBold(true);
    Start->setFont(big);
    Start->setMinimumHeight(QFontMetrics(big).height() * 2);
    Start->setAccessibleDescription(tr("Writes every present board; Enter or F5"));
    Stop = new QPushButton(tr("Stop (Esc)"));
    Stop->setMinimumHeight(Start->minimumHeight());
    Stop->setAccessibleDescription(tr("Interrupts every write, after a confirmation"));
    controls->addWidget(Start, 3);
    controls->addWidget(Stop, 1);
    layout->addLayout(controls);

    Recent = new RecentWrites;
    layout->addWidget(Recent);
    LogWarning = StationLabel();
    LogWarning->setWordWrap(true);
    LogWarning->hide();
    layout->addWidget(LogWarning);

    for (const auto key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_F5})
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, this,
                &StationWindow::StartGang);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &StationWindow::AskToStop);
    connect(Start, &QPushButton::clicked, this, &StationWindow::StartGang);
    connect(CheckAgain, &QPushButton::clicked, this, &StationWindow::Recheck);
    connect(Stop, &QPushButton::clicked, this, &StationWindow::AskToStop);
    UpdateButtons();
}

StationWindow::~StationWindow() = default;

UnitNumberStore& StationWindow::Store() {
    if (database_) return *database_;
    return files_;
}

bool StationWindow::Load(const QString& recipePath) {
    auto read = ReadRecipe(recipePath);
    if (const auto* problem = std::get_if<QString>(&read)) {
        Refuse(this, *problem);
        return false;
    }
    recipe_ = std::get<Recipe>(read);
    setWindowTitle(tr("MORVEN station — %1").arg(QFileInfo(recipePath).fileName()));
    RecipeText->setText(QFileInfo(recipePath).absoluteFilePath());
    // A log that cannot be written never stops a write; it is said once, on the window.
    log_ = WriteLog(recipe_.logPath, [this](const QString& warning) {
        qWarning("morven-station: %s", qPrintable(warning));
        LogWarning->setText(tr("Warning: %1").arg(warning));
        LogWarning->show();
    });
    // A recipe whose values come from the line's database: connected by the check below, and
    // again by any later one when it was lost. A database away keeps the station from writing
    // until a check finds it back; it never keeps the window from opening.
    database_ = UnitNumberDatabase(recipe_, recipe_.logPath);
    if (database_) {
        database_->StopStockWith(SignalCame);
        log_.UpdateRowsWith([this](const WriteRecord& record) {
            return database_->RecordWrite(record, SignalCame);
        });
    }

    auto* grid = findChild<QGridLayout*>(QStringLiteral("tiles"));
    for (qsizetype index = 0; index < recipe_.ports.size(); ++index) {
        auto* tile = new PortTile;
        grid->addWidget(tile, int(index / TilesPerRow), int(index % TilesPerRow));
        Tiles << tile;
    }
    // Keyboard order: Check again while it is shown, Start, Stop, each port, the last writes;
    // the window opens with the focus on Start, or on Check again when not ready.
    QWidget* previous = Stop;
    setTabOrder(CheckAgain, Start);
    setTabOrder(Start, Stop);
    for (PortTile* tile : Tiles) {
        setTabOrder(previous, tile);
        previous = tile;
    }
    setTabOrder(previous, Recent->List);
    Examine(true);
    // Room for every tile's words; the layout's own minimum undercounts wrapped text.
    resize(sizeHint());
    (setup_.Ready() ? Start : CheckAgain)->setFocus();
    return true;
}

void StationWindow::Examine(bool showPorts) {
    // Checked again each time: a key revoked while the window is open stops the next gang.
    recipe_.release = CheckRecipeSignature(recipe_.path, recipe_.text);
    SignerText->setText(recipe_.release.Text());
    setup_ = ExamineStation(recipe_, Store(), GiveUpAfter(10000));
    // The database answers: the rows earlier writes could not update are sent now.
    if (database_ && setup_.Ready())
        if (const QString said = database_->UpdatePendingRows(SignalCame); !said.isEmpty())
            qWarning("morven-station: %s", qPrintable(said));
    ImageText->setText(setup_.imageText);
    KernelText->setText(setup_.kernelText);
    StrictText->setText(setup_.strictText);
    UnitNumberText->setText(setup_.unitNumberText);
    Banner->setText(tr("NOT READY: %1").arg(setup_.problems.join(u'\n')));
    Banner->setAccessibleDescription(setup_.problems.join(u' '));
    Banner->setVisible(!setup_.Ready());
    if (showPorts)
        for (qsizetype index = 0; index < Tiles.size(); ++index)
            Tiles[index]->ShowPort(setup_.ports[index]);
    UpdateButtons();
}

void StationWindow::UpdateButtons() {
    Start->setEnabled(!run_ && !starting_ && setup_.Ready());
    Stop->setEnabled(run_ != nullptr);
    CheckAgain->setVisible(!run_ && !setup_.Ready());
}

// A board plugged in, a file put right, a database back: seen now, and nothing is written.
void StationWindow::Recheck() {
    if (run_ || starting_) return;
    const bool focused = CheckAgain->hasFocus();
    Examine(true);
    if (focused && setup_.Ready()) Start->setFocus();
}

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
