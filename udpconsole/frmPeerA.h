#pragma once

#include <QAction>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "ArrivalReader.h"
#include "ArrivalText.h"
#include "ConsoleSocket.h"

namespace pellux {

inline constexpr quint16 BoardPort = 10001;
inline constexpr quint16 ConsolePort = 10002;
// The largest payload of one UDP datagram over IPv4.
inline constexpr qsizetype LargestDatagram = 65507;
// txtOutput keeps the newest lines only, so that a console left running stays small and fast.
inline constexpr int OutputLineLimit = 10000;
// At most one insertion into txtOutput per frame, however fast datagrams come, and a frame's
// time between insertions for the operator: at most 40 a second.
inline constexpr int FrameMilliseconds = 25;
// Lines one frame inserts at most: 20,000 a second. More would take all of the window's time,
// and nobody reads them; the older ones of a frame give way to a line that counts them (the log
// keeps every one).
inline constexpr int FrameLineBudget = 500;

// The console's one window: sends the text of txtSend on every change and the test pattern on
// Command1, and shows every datagram that arrives on port 10002. txtOutput's context menu
// offers a log of every datagram and the times of arrival.
class frmPeerA : public QWidget {
    Q_OBJECT

public:
    explicit frmPeerA(QWidget* parent = nullptr);
    ~frmPeerA() override;

    // Resolves the board's address, binds the console's port, opens the log PELLUX_LOG names
    // (if any) and starts reading. False when any of it fails; LoadError() then says why,
    // naming the address, the port or the file.
    bool Load();
    QString LoadError() const { return loadError_; }

    // Where refused sends and failed logs are reported; standard error and a message box unless
    // a test says otherwise.
    void SetErrorReporter(std::function<void(const QString&)> reporter) {
        reportError_ = std::move(reporter);
    }
    // Asks for the log's file; a file dialog unless a test says otherwise. Empty: cancelled.
    void SetLogFileChooser(std::function<QString()> chooser) {
        chooseLogFile_ = std::move(chooser);
    }
    // Logs to FILE from now on; false (and reported) when it cannot be opened.
    bool StartLog(const QString& path);
    void StopLog();
    QString LogPath() const { return reader_ ? reader_->LogPath() : QString(); }
    // For a test: a held reader takes nothing, so that the socket's queue overflows for sure.
    void HoldReading(bool held) { reader_->Hold(held); }

    QLineEdit* txtSend;
    QPlainTextEdit* txtOutput;
    QPushButton* Command1;
    QPushButton* Command2;
    ConsoleSocket udpPeerA;
    // In txtOutput's context menu.
    QAction* LogToFile;
    QAction* ShowArrivalTimes;

private:
    void SendText(const QString& text);
    void SendPattern();
    void Send(const QByteArray& payload);
    void ShowOutputMenu(const QPoint& at);
    void ChooseLog(bool on);
    void ArrivalsWaiting();
    void ShowArrivals();
    // The box's words for datagrams the kernel dropped or the log missed; the log keeps them
    // in English.
    static QString LostInBox(quint64 lost) { return tr(LostWords(lost)).arg(lost); }
    static QString UnloggedInBox(quint64 unlogged) {
        return tr(UnloggedWords(unlogged)).arg(unlogged);
    }

    QHostAddress remoteAddress_;
    QString loadError_;
    std::function<void(const QString&)> reportError_;
    std::function<QString()> chooseLogFile_;
    QTimer frame_;
    QElapsedTimer sinceFrame_;
    // Last: it ends its thread before the socket closes.
    std::unique_ptr<ArrivalReader> reader_;
};

}  // namespace pellux
