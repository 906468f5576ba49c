#include "frmPeerA.h"

#include <QMessageBox>
#include <QNetworkDatagram>
#include <QScrollBar>

#include "ShiftJis.h"
#include "TestPattern.h"

namespace pellux {

namespace {

// Layout in twips; 15 twips make one pixel at 96 dpi, and Qt scales on high-DPI screens.
constexpr QRect TwipsRect(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

// The layout was drawn for Windows' 9-point dialog font; IPAPGothic has its widths at 8.25
// points (11 pixels at 96 dpi) and fits the 15-pixel-high button, Japanese captions included.
QFont WindowFont() {
    QFont font;
    font.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("DejaVu Sans")});
    font.setPointSizeF(8.25);
    return font;
}

}  // namespace

QHostAddress BoardAddress() {
    const QString configured =
        qEnvironmentVariable("PELLUX_BOARD_ADDRESS", QStringLiteral(PELLUX_BOARD_ADDRESS));
    return QHostAddress(configured);
}

frmPeerA::frmPeerA(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("UDP Test"));
    setFixedSize(2805 / 15, 2535 / 15);
    setFont(WindowFont());
    // Created in tab order.
    txtSend = new QLineEdit(this);
    txtSend->setGeometry(TwipsRect(0, 0, 2775, 735));
    txtOutput = new QPlainTextEdit(this);
    txtOutput->setGeometry(TwipsRect(0, 840, 2775, 975));
    txtOutput->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Command1 = new QPushButton(QStringLiteral("バイナリ送信"), this);
    Command1->setGeometry(TwipsRect(1200, 1920, 1575, 255));
    Command2 = new QPushButton(QStringLiteral("テキストクリア"), this);
    Command2->setGeometry(TwipsRect(1200, 2280, 1575, 225));
    txtSend->setFocus();

    reportError_ = [this](const QString& text) {
        QMessageBox::warning(this, QStringLiteral("UDP Test"), text);
    };
    connect(txtSend, &QLineEdit::textChanged, this, &frmPeerA::SendText);
    connect(Command1, &QPushButton::clicked, this, &frmPeerA::SendPattern);
    connect(Command2, &QPushButton::clicked, txtOutput, &QPlainTextEdit::clear);
    connect(&udpPeerA, &QUdpSocket::readyRead, this, &frmPeerA::ShowArrivals);
}

bool frmPeerA::Load() {
    remoteAddress_ = BoardAddress();
    // Exclusive: a second console must not share the port and steal half the datagrams.
    return udpPeerA.bind(QHostAddress::AnyIPv4, ConsolePort, QAbstractSocket::DontShareAddress);
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
    if (udpPeerA.writeDatagram(payload, remoteAddress_, BoardPort) < 0)
        reportError_(udpPeerA.errorString());
}

void frmPeerA::ShowArrivals() {
    while (udpPeerA.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = udpPeerA.receiveDatagram();
        QString text = DecodeShiftJis(datagram.data()) + QStringLiteral("\r\n");
        // The box keeps lines, not line-end bytes: CR LF, or a lone CR, is one line break.
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
            .replace(QChar(u'\r'), QChar(u'\n'));
        txtOutput->insertPlainText(text);
    }
}

}  // namespace pellux
