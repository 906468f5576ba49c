#pragma once

#include <QList>
#include <QString>
#include <variant>

#include "Serialization.h"

namespace morven {

// A list file's values, in order, each with the number of the line it stands on. Blank lines and
// # comments are no values.
struct SerialList {
    QList<SerialValue> values;
    QList<int> lines;

    // The list, read whole, or why it cannot serve: unreadable, over 16 MiB, a value the format
    // does not take, or a value standing twice (naming both lines).
    static std::variant<SerialList, QString> Read(const QString& path, const SerialFormat& format);
    // One line as the format wants it: hex bytes ("00:1A:2B:3C:4D:5E", "001A2B3C4D5E") or a
    // number (decimal, or hex after 0x); or why it is none.
    static std::variant<SerialValue, QString> Value(const SerialFormat& format,
                                                    const QString& line);

    // The SHA-256 of the first count values' texts, one a line: what a state keeps of the
    // values it has handed out, so that a list replaced under the same name is noticed.
    QByteArray Sha256Of(qsizetype count) const;
};

}  // namespace morven
