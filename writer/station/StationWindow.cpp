#include "StationWindow.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QShortcut>
#include <QVBoxLayout>
#include <cstdio>

#include "OperatorDialogs.h"
#include "StationLabel.h"
#include "StationWaits.h"
#include "WindowFont.h"
#include "line/InterruptSignals.h"
#include "line/Station.h"

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

}  // namespace morven
