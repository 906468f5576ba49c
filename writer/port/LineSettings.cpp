#include "LineSettings.h"

#include <QStringList>

namespace morven {

LineSettings LineSettings::Parse(const QString& text) {
    const QStringList fields = text.split(QLatin1Char(','));
    const QString parity = fields.value(1).toUpper();
    return {fields.value(0).toInt(),
            parity == QLatin1String("E")   ? Parity::Even
            : parity == QLatin1String("O") ? Parity::Odd
                                           : Parity::None,
            fields.value(2) == QLatin1String("7") ? 7 : 8,
            fields.value(3) == QLatin1String("2") ? 2 : 1};
}

}  // namespace morven
