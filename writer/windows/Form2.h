#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QWidget>
#include <array>
#include <memory>

#include "Form1.h"

namespace morven {

// The start-up window: the kernel file check, then ten port buttons COM1 to COM10.
class Form2 : public QWidget {
    Q_OBJECT

public:
    explicit Form2(QWidget* parent = nullptr);
    ~Form2() override;

    // The kernel file check. False when the kernel file is missing, unreadable or empty: the
    // operator has been told and the program is to end.
    bool Load();

    // The main window once a port has been clicked; null before.
    Form1* MainWindow() const { return mainWindow_.get(); }

    // "/dev/ttyUSB0 — present, FT232R USB UART, serial A50285BI": the device port n opens.
    static QString PortToolTip(int portNumber);

    QGroupBox* Frame1;
    std::array<QRadioButton*, 10> Option1;
    std::array<QLabel*, 10> Label1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ChoosePort(int index);

    std::unique_ptr<Form1> mainWindow_;
};

}  // namespace morven
