#pragma once

#include <QString>

namespace common {

// Gives the program the operator's language, as the system locale names it (LANGUAGE, LC_ALL,
// LC_MESSAGES, LANG): its own texts from PROGRAM_xx.qm and Qt's standard buttons from
// qtbase_xx.qm. Under the C or POSIX locale, or without a translation for the locale, the
// program stays in English. Call once, after the application object is made. True when a
// translation was loaded.
bool LoadTranslations(const QString& program);

}  // namespace common
