#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include "LoadReport.h"
#include "OperatorOutputs.h"
#include "ProgressThrottle.h"
#include "SerialLink.h"
#include "SerialPort.h"

namespace morven {

struct WriteRecord;

// The main window: the chosen file and port, "Write", "Change File" and the progress bar.
// It owns the program's serial port and the link's two timers.
class Form1 : public QWidget, public ProgressDisplay, public MessageSink {
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);

    void ShowPortNumber(int portNumber);
    // Shows the chosen file and checks it at once: warnings colour the name, and its tooltip
    // says what the file holds.
    void ShowSRecordPath(const QString& path);

    void SetProgressMaximum(WriteStage stage, int maximum) override;
    void SetProgressValue(int value) override;
    void ShowMessage(const QString& text) override;

    SerialPort PDQComm1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QPushButton* Command1;
    QPushButton* Command2;
    QProgressBar* ProgressBar1;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Write();
    void ChangeFile();
    void ShowFileCheck(const LoadReport& report);
    void ShowFileProblem(const QString& problem);
    void ShowFileState(bool warn, const QString& details);
    void Record(const WriteRecord& record);

    SerialLink link_;
    ProgressThrottle progressThrottle_;
    QString lastMessage_;
    QElapsedTimer writeClock_;
    double writeSeconds_ = 0;
    bool writing_ = false;
    bool closeRequested_ = false;
};

}  // namespace morven
