#include "UnitNumberStanding.h"

namespace morven {

UnitNumberStanding StandingOfValues(const UnitNumberRule& rule, UnitNumberStore& store,
                                    quint64 needed) {
    const auto stock = store.Stock(rule);
    if (const auto* refusal = std::get_if<WriteRefusal>(&stock)) return {refusal->text, *refusal};
    const UnitNumberStock& left = std::get<UnitNumberStock>(stock);
    if (left.left == 0) {
        const QString text = QStringLiteral("no values left");
        return {text, UnitNumberRefusal(text)};
    }
    QString text = QStringLiteral("next value %1, %2 left").arg(left.next).arg(left.left);
    if (left.left < needed) {
        text = QStringLiteral("next value %1, only %2 left for %3 boards")
                   .arg(left.next)
                   .arg(left.left)
                   .arg(needed);
        return {text, UnitNumberRefusal(text)};
    }
    if (left.fresh)
        text += QStringLiteral(" (no state yet: the first write makes ") + rule.statePath +
                QStringLiteral(")");
    return {text, std::nullopt};
}

}  // namespace morven
