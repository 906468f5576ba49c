#include "frmPeerA.h"

#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <cstdio>

#include "ArrivalLog.h"
#include "ArrivalText.h"
#include "BoardAddress.h"
#include "ShiftJis.h"
#include "TestPattern.h"
#include "Twips.h"
#include "WindowFont.h"

namespace pellux {

using common::Twips;
using common::TwipsRect;
using common::WindowFont;

frmPeerA::frmPeerA(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("UDP Test"));
    setFixedSize(Twips(2805), Twips(2535));
    setFont(WindowFont());
    // Created in tab order.
    txtSend = new QLineEdit(this);
    txtSend->setGeometry(TwipsRect(0, 0, 2775, 735));
    txtOutput = new QPlainTextEdit(this);
    txtOutput->setGeometry(TwipsRect(0, 840, 2775, 975));
    txtOutput->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtOutput->setMaximumBlockCount(OutputLineLimit);
    txtOutput->setContextMenuPolicy(Qt::CustomContextMenu);
    Command1 = new QPushButton(QStringLiteral("バイナリ送信"), this);
    Command1->setGeometry(TwipsRect(1200, 1920, 1575, 255));
    Command2 = new QPushButton(QStringLiteral("テキストクリア"), this);
    Command2->setGeometry(TwipsRect(1200, 2280, 1575, 225));
    txtSend->setFocus();
    LogToFile = new QAction(tr("Log to file…"), this);
    LogToFile->setCheckable(true);
    ShowArrivalTimes = new QAction(tr("Show arrival times"), this);
    ShowArrivalTimes->setCheckable(true);

    reportError_ = [this](const QString& text) {
        std::fprintf(stderr, "pellux: %s\n", qPrintable(text));
        QMessageBox::warning(this, QStringLiteral("UDP Test"), text);
    };
    chooseLogFile_ = [this] {
        // Appended to, never replaced: an existing file is no reason to ask.
        return QFileDialog::getSaveFileName(this, tr("Log to file"), QString(), QString(), nullptr,
                                            QFileDialog::DontConfirmOverwrite);
    };
    connect(txtSend, &QLineEdit::textChanged, this, &frmPeerA::SendText);
    connect(Command1, &QPushButton::clicked, this, &frmPeerA::SendPattern);
    connect(Command2, &QPushButton::clicked, txtOutput, &QPlainTextEdit::clear);
    connect(txtOutput, &QWidget::customContextMenuRequested, this, &frmPeerA::ShowOutputMenu);
    connect(LogToFile, &QAction::triggered, this, &frmPeerA::ChooseLog);
    frame_.setSingleShot(true);
    connect(&frame_, &QTimer::timeout, this, &frmPeerA::ShowArrivals);
}

frmPeerA::~frmPeerA() = default;

bool frmPeerA::Load() {
    const QString configured = ConfiguredBoardAddress();
    const auto resolved = ResolveBoardAddress(configured);
    if (const auto* reason = std::get_if<QString>(&resolved)) {
        loadError_ = tr("The board address \"%1\" cannot be used: %2.").arg(configured, *reason);
        return false;
    }
    remoteAddress_ = std::get<QHostAddress>(resolved);
    if (!udpPeerA.Bind(remoteAddress_.protocol(), ConsolePort)) {
        loadError_ = tr("Cannot bind UDP port %1: %2").arg(ConsolePort).arg(udpPeerA.ErrorString());
        return false;
    }
    reader_ = std::make_unique<ArrivalReader>(udpPeerA.Descriptor(), OutputLineLimit, [this] {
        QMetaObject::invokeMethod(this, &frmPeerA::ArrivalsWaiting, Qt::QueuedConnection);
    });
    // Before the first read, so that the log has every datagram from the start.
    const QString logPath = qEnvironmentVariable("PELLUX_LOG");
    if (!logPath.isEmpty()) {
        auto opened = ArrivalLog::Open(logPath);
        if (auto* reason = std::get_if<QString>(&opened)) {
            loadError_ = *reason;
            return false;
        }
        reader_->SetLog(std::move(std::get<std::unique_ptr<ArrivalLog>>(opened)));
        LogToFile->setChecked(true);
        LogToFile->setToolTip(logPath);
    }
    reader_->Start();
    return true;
}

bool frmPeerA::StartLog(const QString& path) {
    auto opened = ArrivalLog::Open(path);
    if (auto* reason = std::get_if<QString>(&opened)) {
        reportError_(*reason);
        LogToFile->setChecked(!LogPath().isEmpty());
        return false;
    }
    reader_->SetLog(std::move(std::get<std::unique_ptr<ArrivalLog>>(opened)));
    LogToFile->setChecked(true);
    LogToFile->setToolTip(path);
    return true;
}

void frmPeerA::StopLog() {
    reader_->SetLog(nullptr);
    LogToFile->setChecked(false);
    LogToFile->setToolTip(QString());
}

// Checked while a log is kept: choosing it then ends the log.
void frmPeerA::ChooseLog(bool on) {
    if (!on) return StopLog();
    const QString path = chooseLogFile_();
    if (path.isEmpty()) {
        LogToFile->setChecked(false);
        return;
    }
    StartLog(path);
}

void frmPeerA::ShowOutputMenu(const QPoint& at) {
    QMenu* menu = txtOutput->createStandardContextMenu(at);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addSeparator();
    menu->addAction(LogToFile);
    menu->addAction(ShowArrivalTimes);
    menu->popup(txtOutput->viewport()->mapToGlobal(at));
}

void frmPeerA::SendText(const QString& text) {
    const QByteArray payload = EncodeShiftJis(text);
    // Too long for one datagram: not sent, and the box says so by its colour.
    const bool fits = payload.size() <= LargestDatagram;
    txtSend->setStyleSheet(fits ? QString() : QStringLiteral("color: red"));
    if (fits) Send(payload);
}

void frmPeerA::SendPattern() { Send(FillTestPattern()); }

// Sent to the board explicitly, never connected, so that datagrams from any sender are shown.
void frmPeerA::Send(const QByteArray& payload) {
    if (!udpPeerA.Send(payload, remoteAddress_, BoardPort)) reportError_(udpPeerA.ErrorString());
}

// Painting keeps its own pace: whatever arrived since the last frame goes in at the next one.
void frmPeerA::ArrivalsWaiting() {
    if (frame_.isActive()) return;
    const qint64 since = sinceFrame_.isValid() ? sinceFrame_.elapsed() : FrameMilliseconds;
    if (since >= FrameMilliseconds)
        ShowArrivals();
    else
        frame_.start(int(FrameMilliseconds - since));
}

// Everything that arrived since the last frame goes into the box in one insertion, in order of
// arrival: the same text at the same place as one insertion each, but one repaint and one
// accessibility event.
void frmPeerA::ShowArrivals() {
    ArrivalReader::Taken taken = reader_->Take();
    QString text;
    const auto addLine = [&](qint64 microseconds, const QString& line) {
        if (ShowArrivalTimes->isChecked())
            text += QString::fromLatin1(ArrivalTime(microseconds)) + QChar(u' ');
        text += line + QStringLiteral("\r\n");
    };
    auto arrival = taken.arrivals.cbegin();
    if (taken.arrivals.size() > size_t(FrameLineBudget) || taken.notKept != 0) {
        const auto shownFrom =
            taken.arrivals.cend() - std::min(taken.arrivals.size(), size_t(FrameLineBudget));
        quint64 notShown = taken.notKept;
        quint64 lost = 0;
        for (; arrival != shownFrom; ++arrival) {
            notShown += arrival->lost == 0 ? 1 : 0;
            lost += arrival->lost;
        }
        const qint64 at = arrival != taken.arrivals.cbegin() ? std::prev(arrival)->microseconds
                                                             : arrival->microseconds;
        if (lost != 0) addLine(at, LostInBox(lost));
        addLine(at, notShown == 1 ? tr("1 datagram not shown: too many at once")
                                  : tr("%1 datagrams not shown: too many at once").arg(notShown));
    }
    for (; arrival != taken.arrivals.cend(); ++arrival)
        addLine(arrival->microseconds,
                arrival->lost != 0 ? LostInBox(arrival->lost) : DecodeShiftJis(arrival->payload));
    // After the datagrams the log had no room for: they come with the datagrams that did.
    if (taken.unlogged != 0 && !taken.arrivals.empty())
        addLine(taken.arrivals.back().microseconds, UnloggedInBox(taken.unlogged));
    QString drops;
    if (const quint64 lost = reader_->Lost(); lost != 0)
        drops = LostInBox(lost) + u'\n' +
                tr("The receive buffer holds %1 KiB; net.core.rmem_max limits it.")
                    .arg(udpPeerA.ReceiveBufferBytes() / 1024);
    if (const quint64 unlogged = reader_->Unlogged(); unlogged != 0)
        drops += (drops.isEmpty() ? QString() : QStringLiteral("\n")) + UnloggedInBox(unlogged);
    if (!drops.isEmpty()) txtOutput->setToolTip(drops);
    if (!text.isEmpty()) {
        // The box keeps lines, not line-end bytes: CR LF, or a lone CR, is one line break.
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
            .replace(QChar(u'\r'), QChar(u'\n'));
        txtOutput->insertPlainText(text);
    }
    // From the frame's end: however long it took, the operator gets the next frame's time.
    sinceFrame_.start();
    if (!taken.error.isEmpty()) {
        LogToFile->setChecked(!LogPath().isEmpty());
        reportError_(taken.error);
    }
}

}  // namespace pellux
