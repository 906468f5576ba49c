#include "PortArgument.h"

namespace morven {

std::optional<PortArgument> ParsePortArgument(const QString& text) {
    if (text.contains(QLatin1Char('/'))) return PortArgument{0, text};
    QString digits = text;
    if (digits.startsWith(QStringLiteral("COM"), Qt::CaseInsensitive)) digits = digits.mid(3);
    bool isNumber = false;
    const int number = digits.toInt(&isNumber);
    // Only plain digits: toInt() would also take " 3" or "+3".
    const bool plainDigits = !digits.isEmpty() && digits.front().isDigit() && digits.size() <= 2;
    if (!isNumber || !plainDigits || number < 1 || number > 10) return std::nullopt;
    return PortArgument{number, {}};
}

}  // namespace morven
