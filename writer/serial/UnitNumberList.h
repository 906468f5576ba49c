#pragma once

#include <QList>
#include <QString>
#include <variant>

#include "UnitNumberRule.h"

namespace morven {

// A list file's values, in order, each with the number of the line it stands on. Blank lines and
// # comments are no values.
struct UnitNumberList {
    QList<UnitNumber> values;
    QList<int> lines;

    // The list, read whole, or why it cannot serve: unreadable, over 16 MiB, a value the format
    // does not take, or a value standing twice (naming both lines).
    static std::variant<UnitNumberList, QString> Read(const QString& path,
                                                      const UnitNumberFormat& format);
    // One line as the format wants it: hex bytes ("00:1A:2B:3C:4D:5E", "001A2B3C4D5E") or a
    // number (decimal, or hex after 0x); or why it is none.
    static std::variant<UnitNumber, QString> Value(const UnitNumberFormat& format,
                                                   const QString& line);

    // The SHA-256 of the first count values' texts, one a line: what a state keeps of the
    // values it has handed out, so that a list replaced under the same name is noticed.
    QByteArray Sha256Of(qsizetype count) const;
};

}  // namespace morven
