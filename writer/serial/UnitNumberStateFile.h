#pragma once

#include "UnitNumberStore.h"

namespace morven {

// A line's values kept in files beside the rule's state path STATE, for every user and process
// that can write its folder:
//   STATE         the rule it was started with and how far it has gone (UnitNumberState), only
//                 ever replaced whole (DurableFile), so a kill or a power cut leaves it whole;
//   STATE.lock    held with flock while values are taken, and then the folder itself, which
//                 no one can delete and make anew under its holder as they can STATE.lock;
//   STATE.issued  one JSON line per value handed out, appended and synced before STATE moves:
//                 value, port, time, host, user, and the recipe (with its SHA-256) or command.
// Only a STATE that never handed out a value starts anew: none at its path, an issue log that
// holds nothing, and none of the previous release at the rule's formerStatePath. One that is
// empty, garbled or unreadable is refused, and so is one started under another rule.
class UnitNumberStateFile : public UnitNumberStore {
public:
    static QString LockPath(const QString& statePath);
    static QString IssueLogPath(const QString& statePath);

    std::variant<QList<UnitNumber>, WriteRefusal> Take(const UnitNumberRule& rule,
                                                       const QStringList& ports,
                                                       const IssueContext& context,
                                                       const TakeWait& wait) override;
    std::variant<UnitNumberStock, WriteRefusal> Stock(const UnitNumberRule& rule) override;
};

}  // namespace morven
