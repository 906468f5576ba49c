#include "frmPeerA.h"

#include <QMessageBox>
#include <QNetworkDatagram>
#include <QScrollBar>
#include <QTimer>

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
    arrivalWatch_.setSingleShot(true);
    arrivalWatch_.setInterval(100);
    connect(&arrivalWatch_, &QTimer::timeout, this, &frmPeerA::ShowArrivals);
}

bool frmPeerA::Load() {
    const QString configured = ConfiguredBoardAddress();
    const auto resolved = ResolveBoardAddress(configured);
    if (const auto* reason = std::get_if<QString>(&resolved)) {
        loadError_ =
            QStringLiteral("The board address \"%1\" cannot be used: %2.").arg(configured, *reason);
        return false;
    }
    remoteAddress_ = std::get<QHostAddress>(resolved);
    // The socket speaks the board's protocol. Exclusive: a second console must not share the
    // port and steal half the datagrams.
    const bool ipv6 = remoteAddress_.protocol() == QAbstractSocket::IPv6Protocol;
    if (udpPeerA.bind(ipv6 ? QHostAddress::AnyIPv6 : QHostAddress::AnyIPv4, ConsolePort,
                      QAbstractSocket::DontShareAddress))
        return true;
    loadError_ =
        QStringLiteral("Cannot bind UDP port %1: %2").arg(ConsolePort).arg(udpPeerA.errorString());
    return false;
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

// The datagrams waiting, up to a batch, go into the box in one insertion, in order of arrival:
// the same text at the same place as one insertion each, but one repaint and one accessibility
// event, so a console that falls behind catches up instead of losing datagrams. What is left
// is taken on the next pass, after the window's own events.
void frmPeerA::ShowArrivals() {
    QString text;
    for (int taken = 0; taken < ArrivalBatch && udpPeerA.hasPendingDatagrams(); ++taken) {
        const QNetworkDatagram datagram = udpPeerA.receiveDatagram();
        text += DecodeShiftJis(datagram.data()) + QStringLiteral("\r\n");
    }
    if (udpPeerA.hasPendingDatagrams()) QTimer::singleShot(0, this, &frmPeerA::ShowArrivals);
    if (text.isEmpty()) return;
    // While datagrams flow, a look every 100 ms as well: under a flood the socket can stop
    // announcing datagrams that were left waiting (seen with Qt 6.4 on a loaded machine).
    arrivalWatch_.start();
    // The box keeps lines, not line-end bytes: CR LF, or a lone CR, is one line break.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QChar(u'\r'), QChar(u'\n'));
    txtOutput->insertPlainText(text);
}

}  // namespace pellux
