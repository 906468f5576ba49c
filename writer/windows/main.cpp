// MORVEN: writes a program (S-record, Intel HEX or ELF) into the board's flash through its
// serial boot mode.
#include <QApplication>

#include "Form2.h"
#include "Translations.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(MORVEN_VERSION));
    common::LoadTranslations(QStringLiteral("morven"));
    morven::Form2 startup;
    if (!startup.Load()) return 1;
    startup.show();
    return app.exec();
}
