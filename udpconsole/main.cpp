// PELLUX: a UDP test console for the board.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>

#include "EndSignals.h"
#include "Translations.h"
#include "frmPeerA.h"

int main(int argc, char** argv) {
    pellux::EndSignals::Block();
    QApplication app(argc, argv);
    common::LoadTranslations(QStringLiteral("pellux"));
    const pellux::EndSignals ends([] {
        // A message box's own loop ends too: quit() alone leaves one that runs before exec().
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
        QApplication::quit();
    });
    int status = 0;
    {
        pellux::frmPeerA window;
        if (!window.Load()) {
            // Said where an unattended run's journal has it, too.
            std::fprintf(stderr, "pellux: %s\n", qPrintable(window.LoadError()));
            QMessageBox::critical(nullptr, QStringLiteral("UDP Test"), window.LoadError());
            if (ends.Received() != 0) ends.DieBySignal();
            return 1;
        }
        window.show();
        status = app.exec();
        // The window goes first: its reader logs what it holds and ends.
    }
    if (ends.Received() != 0) ends.DieBySignal();
    return status;
}
