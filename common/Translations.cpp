#include "Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace common {

namespace {

bool Install(const QLocale& locale, const QString& name, const QString& folder) {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(locale, name, QStringLiteral("_"), folder) &&
        QCoreApplication::installTranslator(translator))
        return true;
    delete translator;
    return false;
}

// As gettext reads the locale: the first of these that is set; C or POSIX there means the
// program's own words, whatever LANGUAGE says (Qt's system locale would follow LANGUAGE).
bool UntranslatedLocale() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = qEnvironmentVariable(variable);
        if (value.isEmpty()) continue;
        return value == u"C" || value.startsWith(u"C.") || value == u"POSIX";
    }
    return true;
}

// Where PROGRAM_xx.qm is looked for. Installed: PREFIX/bin beside PREFIX/share. In the build:
// every program is one folder below the top, where the translations are built.
QStringList TranslationFolders() {
    const QDir programs(QCoreApplication::applicationDirPath());
    return {programs.filePath(QStringLiteral("../share/benchtools/translations")),
            programs.filePath(QStringLiteral("../translations"))};
}

}  // namespace

bool LoadTranslations(const QString& program) {
    if (UntranslatedLocale()) return false;
    const QLocale locale = QLocale::system();
    for (const QString& folder : TranslationFolders()) {
        if (!Install(locale, program, folder)) continue;
        // Qt's own words (the standard buttons, the file dialog) only with ours.
        Install(locale, QStringLiteral("qtbase"),
                QLibraryInfo::path(QLibraryInfo::TranslationsPath));
        return true;
    }
    return false;
}

}  // namespace common
