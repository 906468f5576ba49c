#pragma once

#include <QString>
#include <optional>

#include "serial/UnitNumberStore.h"
#include "write/WriteJob.h"

namespace morven {

// Where a rule's values stand, as a station tells it: "next value 10000001, 99999999 left", or
// why not enough can be taken for the boards needing one, with the refusal a take would meet.
// Takes and creates nothing.
struct UnitNumberStanding {
    QString text;
    std::optional<WriteRefusal> refusal;
};
UnitNumberStanding StandingOfValues(const UnitNumberRule& rule, UnitNumberStore& store,
                                    quint64 needed);

}  // namespace morven
