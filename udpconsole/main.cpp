// PELLUX: a UDP test console for the board.
#include <QApplication>
#include <QMessageBox>

#include "frmPeerA.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    pellux::frmPeerA window;
    if (!window.Load()) {
        QMessageBox::critical(nullptr, QStringLiteral("UDP Test"), window.LoadError());
        return 1;
    }
    window.show();
    return app.exec();
}
