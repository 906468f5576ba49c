#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <functional>

#include "ProgressThrottle.h"
#include "image/LoadReport.h"
#include "port/SerialLink.h"
#include "port/SerialPort.h"
#include "write/ProgressDisplay.h"
#include "write/WriteJob.h"
#include "record/WriteRecord.h"

namespace morven {

// The main window: the chosen file and port, "Write", "Change File" and the progress bar.
// It owns the program's serial port and the link's two timers.
class Form1 : public QWidget, public ProgressDisplay {
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);

    void ShowPortNumber(int portNumber);
    // Shows the chosen file and checks it at once: warnings colour the name, and its tooltip
    // says what the file holds.
    void ShowSRecordPath(const QString& path);

    void SetProgressMaximum(WriteStage stage, int maximum) override;
    void SetProgressValue(int value) override;

    // How long a read waits for data (a FIFO nobody writes) before it gives up.
    static inline qint64 FileWaitLimitMs = 10000;

    // Full path of the chosen firmware file (S-record, Intel HEX or ELF); read again at every
    // write.
    QString SRecordPath;
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
    // The refusal's words; a read stopped by its time limit says so.
    QString RefusalText(const WriteRefusal& refusal) const;

    SerialLink link_;
    ProgressThrottle progressThrottle_;
    WriteLog writeLog_;
    std::function<void(int, const QString&)> cancelWrite_;  // the write in progress
    bool closeRequested_ = false;
};

}  // namespace morven
