#include "Form2.h"

#include <QMouseEvent>

#include "OperatorDialogs.h"
#include "Twips.h"
#include "WindowFont.h"
#include "port/RemoteAddress.h"
#include "port/SerialDevices.h"
#include "write/KernelFile.h"

namespace morven {

using common::Twips;
using common::TwipsRect;
using common::WindowFont;

namespace {

constexpr int RowTops[] = {180, 420, 660, 900, 1140};

// The font the layout was drawn with, where it is installed; else a Japanese Gothic like it at
// the size where its letters have that font's height and fit the 13-pixel-high labels.
QFont PortLabelFont() {
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic")});
    font.setPointSizeF(9.75);
    font.setWeight(QFont::Normal);
    const QString found = QFontInfo(font).family();
    if (font.families().contains(found)) return font;
    font.setFamilies({QStringLiteral("IPAGothic"), QStringLiteral("IPAゴシック"),
                      QStringLiteral("Noto Sans CJK JP"), QStringLiteral("monospace")});
    font.setPointSizeF(9);
    return font;
}

}  // namespace

Form2::Form2(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Com"));
    setFixedSize(Twips(1830), Twips(1455));
    setFont(WindowFont());
    Frame1 = new QGroupBox(QStringLiteral("ComPort"), this);
    Frame1->setGeometry(TwipsRect(0, 0, 1815, 1455));
    // The border runs at half the caption's height, above the first row, as laid out; the
    // desktop style would put it below a box the size of an option circle.
    Frame1->setStyleSheet(
        QStringLiteral("QGroupBox { border: 1px solid palette(mid); margin-top: %1px; }"
                       "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }")
            .arg(QFontMetrics(font()).height() / 2));
    const QFont labelFont = PortLabelFont();
    for (int i = 0; i < 10; ++i) {
        const bool rightColumn = i >= 5;
        const int top = RowTops[i % 5];
        Option1[i] = new QRadioButton(Frame1);
        Option1[i]->setGeometry(TwipsRect(rightColumn ? 960 : 120, top, 255, 255));
        Option1[i]->installEventFilter(this);
        // The circle has no caption of its own; a screen reader names it as its label reads.
        Option1[i]->setAccessibleName(QStringLiteral("Com%1").arg(i + 1));
        Label1[i] = new QLabel(QStringLiteral("Com%1").arg(i + 1), Frame1);
        Label1[i]->installEventFilter(this);
        Label1[i]->setGeometry(TwipsRect(rightColumn ? 1200 : 360, top, 495, 195));
        Label1[i]->setFont(labelFont);
        if (i > 0) setTabOrder(Option1[i - 1], Option1[i]);
    }
}

Form2::~Form2() = default;

bool Form2::Load() {
    if (KernelFilePresent(KernelFilePath())) return true;
    OperatorDialogs::ShowMessage(nullptr, QString::fromLatin1(KernelNotFoundText),
                                 KernelSearchText());
    return false;
}

// Only a mouse button released over a port button chooses it; moving the selection with the
// keyboard does not. A port button or its label, hovered, names the device the port opens.
bool Form2::eventFilter(QObject* watched, QEvent* event) {
    for (int i = 0; i < 10; ++i) {
        if (watched != Option1[i] && watched != Label1[i]) continue;
        if (event->type() == QEvent::ToolTip) {
            // Looked up when asked: an adapter may have been plugged in since the start.
            static_cast<QWidget*>(watched)->setToolTip(PortToolTip(i + 1));
        } else if (event->type() == QEvent::MouseButtonRelease && watched == Option1[i] &&
                   Option1[i]->rect().contains(
                       static_cast<QMouseEvent*>(event)->position().toPoint())) {
            // After the button has taken the click, as its own handler would run.
            QMetaObject::invokeMethod(
                this, [this, i] { ChoosePort(i); }, Qt::QueuedConnection);
        }
    }
    return QWidget::eventFilter(watched, event);
}

// morven-cli --list-ports says the same in English, for scripts; here in the operator's words.
QString Form2::PortToolTip(int portNumber) {
    const SerialDeviceInfo info = DescribeSerialDevice(SerialPort::DeviceForPort(portNumber));
    QStringList parts;
    if (!info.network)
        parts << (info.present ? tr("present") : tr("absent")) << info.description;
    else if (RemoteAddress::IsUrl(info.device))
        parts << tr("a serial port on another machine, written there (ssh)");
    else
        parts << tr("a serial port on another machine (RFC 2217)");
    if (!info.adapterSerial.isEmpty()) parts << tr("serial %1").arg(info.adapterSerial);
    parts.removeAll(QString());
    return info.device + QStringLiteral(" — ") + parts.join(QStringLiteral(", "));
}

void Form2::ChoosePort(int index) {
    const int portNumber = index + 1;
    if (!mainWindow_) mainWindow_ = std::make_unique<Form1>();
    SerialPort& port = mainWindow_->PDQComm1;
    port.SelectPort(portNumber);
    if (!port.OpenPort()) {
        OperatorDialogs::ShowMessage(this, port.OpenFailureMessage());
        return;
    }
    port.DiscardInput();
    port.ClosePort();
    mainWindow_->ShowPortNumber(portNumber);

    const auto path = OperatorDialogs::ChooseSRecordFile(this);
    if (!path) return;
    mainWindow_->ShowSRecordPath(*path);
    mainWindow_->show();
    close();
}

}  // namespace morven
