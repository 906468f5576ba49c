#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <variant>

#include "UnitNumberRule.h"

namespace morven {

// What a unit-number state file holds: the rule it was started with (address, format, start and
// step, or the list's file name) and how far it has gone. Text, a key and a value a line,
// ending in "end": a file cut short is seen as garbled, never read as a start.
struct UnitNumberState {
    UnitNumberRule rule;          // as started; listPath is the list's file name only
    std::optional<quint64> next;  // the counter's next value; none after its last
    quint64 taken = 0;            // the list's values handed out
    QByteArray takenSha256;       // of those values (UnitNumberList::Sha256Of), in hex

    // A state not yet on the disk: the rule's first value comes next.
    static UnitNumberState Start(const UnitNumberRule& rule);
    // The state, or why the text is none.
    static std::variant<UnitNumberState, QString> Parse(const QByteArray& text);
    QByteArray Text() const;

    // Whether rule is the one this state was started with.
    bool SameRule(const UnitNumberRule& rule) const;
    // Whether this state, of the same rule, has handed out more than other.
    bool Beyond(const UnitNumberState& other) const;
    // "next value 10000005", "its last value is handed out", "3 values of macs.txt taken".
    QString Progress() const;
};

}  // namespace morven
