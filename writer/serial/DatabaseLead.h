#pragma once

#include <QString>
#include <variant>

#include "DatabaseConnection.h"
#include "UnitNumberRule.h"
#include "write/WriteJob.h"

namespace morven {

// What the line's lead does in its database (a role in morven_lists): makes the counters and
// loads the lists that stations then take from. Each answers what now stands, or is refused:
// UnitNumberStoreAway (14) when the database cannot be reached, UnitNumberStoreLoginRefused (15),
// UnitNumbersRefused (11) for the rest, naming why.

// Makes the counter the rule's state names (postgresql://HOST/DB#NAME, default "counter") with
// the rule, its start as the first value, its step, and its format's largest. Made already with
// the same, it stays as it is.
std::variant<QString, WriteRefusal> MakeCounter(const UnitNumberRule& rule,
                                                const DatabaseConnection::Stop& stop);

// Loads the list file at path (or what was appended to it), its values checked against
// format, under the URI's NAME or the file's name: what the list holds now.
std::variant<QString, WriteRefusal> LoadList(const QString& uri, const QString& path,
                                             const UnitNumberFormat& format,
                                             const DatabaseConnection::Stop& stop);

}  // namespace morven
