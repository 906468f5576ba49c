#include "Form1.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QtMath>

#include "OperatorDialogs.h"
#include "Twips.h"
#include "WindowFont.h"
#include "port/RemoteAddress.h"
#include "port/SerialDevices.h"
#include "write/KernelFile.h"
#include "write/RemoteWriteFlow.h"
#include "write/WriteFlow.h"

namespace morven {

using common::Twips;
using common::TwipsRect;
using common::WindowFont;

namespace {

template <typename Widget>
Widget* Place(QWidget* parent, Widget* widget, const QRect& geometry) {
    widget->setParent(parent);
    widget->setGeometry(geometry);
    return widget;
}

// The window cannot wait for ever on a pipe nobody writes.
std::function<bool()> GiveUpAfterWaitLimit() {
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    return [clock] { return clock->elapsed() > Form1::FileWaitLimitMs; };
}

// A file with warnings is still written; its name shows in this colour until it is clean.
const QColor WarningColour(0xB0, 0x40, 0x00);

}  // namespace

// The write log is for later questions; one that cannot be written never stops a write, and is
// said once on standard error rather than in another box to click away.
Form1::Form1(QWidget* parent)
    : QWidget(parent),
      link_(PDQComm1),
      writeLog_({}, [](const QString& warning) { qWarning("MORVEN: %s", qPrintable(warning)); }) {
    setWindowTitle(QStringLiteral("SALTOR 24.576Mhz"));
    setFixedSize(Twips(5340), Twips(645));
    setFont(WindowFont());
    // Created in keyboard order: "Write" first, so it has the focus when the window opens.
    Command1 =
        Place(this, new QPushButton(QStringLiteral("Write")), TwipsRect(4200, 360, 1095, 255));
    Command2 =
        Place(this, new QPushButton(QStringLiteral("Change File")), TwipsRect(4200, 60, 1095, 255));
    Label3 = Place(this, new QLabel(QStringLiteral("S File:")), TwipsRect(60, 60, 495, 255));
    Label2 = Place(this, new QLabel, TwipsRect(540, 60, 3615, 255));
    Label4 = Place(this, new QLabel(QStringLiteral("Com:")), TwipsRect(60, 360, 495, 255));
    Label1 = Place(this, new QLabel, TwipsRect(540, 360, 315, 255));
    ProgressBar1 = Place(this, new QProgressBar, TwipsRect(900, 360, 3255, 255));
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setValue(0);
    Command1->setFocus();
    connect(Command1, &QPushButton::clicked, this, &Form1::Write);
    connect(Command2, &QPushButton::clicked, this, &Form1::ChangeFile);
}

void Form1::ShowPortNumber(int portNumber) { Label1->setText(QString::number(portNumber)); }

void Form1::ShowSRecordPath(const QString& path) {
    Label2->setText(path);
    SRecordPath = path;
    const auto loaded = LoadFirmwareInput({path, std::nullopt}, GiveUpAfterWaitLimit());
    if (const auto* unreadable = std::get_if<WriteRefusal>(&loaded))
        ShowFileProblem(RefusalText(*unreadable));
    else if (const auto empty = NothingToWrite(path, std::get<LoadedImage>(loaded).report))
        ShowFileProblem(empty->text);
    else
        ShowFileCheck(std::get<LoadedImage>(loaded).report);
}

void Form1::ShowFileCheck(const LoadReport& report) {
    ShowFileState(report.HasWarnings(), report.Details().join(QLatin1Char('\n')));
}

void Form1::ShowFileProblem(const QString& problem) { ShowFileState(true, problem); }

// The tooltip names the whole path, which the layout cuts off, and what was found in the file.
void Form1::ShowFileState(bool warn, const QString& details) {
    QPalette palette = Label2->palette();
    palette.setColor(QPalette::WindowText,
                     warn ? WarningColour : this->palette().color(QPalette::WindowText));
    Label2->setPalette(palette);
    Label2->setToolTip(SRecordPath + QStringLiteral("\n\n") + details);
}

void Form1::SetProgressMaximum(WriteStage /*stage*/, int maximum) {
    ProgressBar1->setMaximum(maximum);
    const qreal width = ProgressBar1->contentsRect().width() * ProgressBar1->devicePixelRatioF();
    progressThrottle_.Reset(maximum, qCeil(width), ProgressBar1->value());
}

void Form1::SetProgressValue(int value) {
    if (progressThrottle_.Passes(value)) ProgressBar1->setValue(value);
}

QString Form1::RefusalText(const WriteRefusal& refusal) const {
    if (refusal.outcome != WriteOutcome::Cancelled) return refusal.text;
    return tr("Nothing arrived from %1 for %2 seconds, so reading it was stopped. Nothing was "
              "sent.")
        .arg(SRecordPath)
        .arg(double(FileWaitLimitMs) / 1000);
}

void Form1::Write() {
    Command1->setEnabled(false);
    Command2->setEnabled(false);
    // The file is read again: it may have been rebuilt since it was chosen.
    auto prepared =
        PrepareWrite({SRecordPath, std::nullopt}, KernelFilePath(), GiveUpAfterWaitLimit());
    if (const auto* refusal = std::get_if<WriteRefusal>(&prepared)) {
        ShowFileProblem(RefusalText(*refusal));
        OperatorDialogs::ShowMessage(this, RefusalText(*refusal));
    } else {
        const WriteJob& job = std::get<WriteJob>(prepared);
        ShowFileCheck(job.report);
        // A board named by ssh:// is written on its own machine.
        const BoardPort board{QStringLiteral("COM") + Label1->text(),
                              DescribeSerialDevice(PDQComm1.Device())};
        const auto remote = RemoteAddress::Parse(PDQComm1.Device());
        const auto run = [this, &job](auto&& flow) {
            cancelWrite_ = [&flow](int status, const QString& text) { flow.Cancel(status, text); };
            const WriteResult result = flow.Run(job);
            cancelWrite_ = nullptr;
            return result;
        };
        const auto* address = std::get_if<RemoteAddress>(&remote);
        const WriteResult result =
            address ? run(RemoteWriteFlow(link_, *address, board, *this, &writeLog_))
                    : run(WriteFlow(link_, board, *this, &writeLog_));
        // On record already: the operator's click on OK is not part of the write.
        if (!result.Cancelled()) OperatorDialogs::ShowMessage(this, result.text);
    }
    Command1->setEnabled(true);
    Command2->setEnabled(true);
    SetProgressValue(0);
    if (closeRequested_) close();
}

void Form1::ChangeFile() {
    if (const auto path = OperatorDialogs::ChooseSRecordFile(this)) ShowSRecordPath(*path);
}

// Closing during a write ends the write at its current wait; the window closes once the
// port is closed again.
void Form1::closeEvent(QCloseEvent* event) {
    if (!cancelWrite_) {
        event->accept();
        return;
    }
    closeRequested_ = true;
    cancelWrite_(StatusWindowClosed, QStringLiteral("the window was closed during the write"));
    event->ignore();
}

}  // namespace morven
