#pragma once

#include <QString>
#include <optional>

#include "serial/SerialStore.h"
#include "write/WriteJob.h"

namespace morven {

// Where a rule's values stand, as a station tells it: "next value 10000001, 99999999 left", or
// why not enough can be taken for the boards needing one, with the refusal a take would meet.
// Takes and creates nothing.
struct SerialStanding {
    QString text;
    std::optional<WriteRefusal> refusal;
};
SerialStanding StandingOfValues(const SerialRule& rule, SerialStore& store, quint64 needed);

}  // namespace morven
