// morven-station: a production station's one window. It writes every board of a recipe's gang
// with one key, and records each write as morven-cli does.
#include <QApplication>

#include "OperatorDialogs.h"
#include "StationWindow.h"
#include "Translations.h"
#include "line/InterruptSignals.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The records name the program that wrote.
    QApplication::setApplicationName(QStringLiteral("morven-station"));
    QApplication::setApplicationVersion(QStringLiteral(MORVEN_VERSION));
    // The windows speak the operator's language; the records stay as every program writes them.
    common::LoadTranslations(QStringLiteral("morven"));
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 2) {
        std::fputs("usage: morven-station [RECIPE]\n", stderr);
        return 2;
    }
    QString recipe = arguments.value(1);
    if (recipe.isEmpty()) {
        const auto chosen = morven::OperatorDialogs::ChooseRecipeFile(nullptr);
        if (!chosen) return 0;
        recipe = *chosen;
    }
    morven::StationWindow window;
    if (!window.Load(recipe)) {
        // A signal that ended the box ends the program by that signal, as a shell expects.
        if (morven::InterruptSignals::Received() != 0) morven::InterruptSignals::DieBySignal();
        return 2;
    }
    window.show();
    const int status = app.exec();
    if (morven::InterruptSignals::Received() != 0) morven::InterruptSignals::DieBySignal();
    return status;
}
