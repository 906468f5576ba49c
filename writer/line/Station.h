#pragma once

#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "Recipe.h"
#include "serial/DatabaseUnitNumberStore.h"
#include "serial/UnitNumberStore.h"
#include "write/BoardImage.h"
#include "write/WriteJob.h"

namespace morven {

// A production station's checks before any port is opened.

// The refusal of a recipe whose signature the station does not accept, naming it and why.
std::optional<WriteRefusal> Unreleased(const Recipe& recipe);

// The refusal of an unreleased recipe, or of an image or kernel other than the recipe
// approves, naming both hashes.
std::optional<WriteRefusal> Unapproved(const Recipe& recipe, const WriteJob& job);

// The line's database, when the unit-number rule's state is a postgresql:// URI, not connected yet:
// its first operation connects. Null without one. The write ends kept for a later run wait beside
// the write log at logPath (empty: the default one).
std::unique_ptr<DatabaseUnitNumberStore> UnitNumberDatabase(const Recipe& recipe,
                                                            const QString& logPath);

// The line's database, when the unit-number rule's state is a postgresql:// URI: connected, and the
// rows earlier runs could not update updated now (what happened told through tell). Null
// without one; refused (UnitNumberStoreAway, naming the host) when it cannot be reached,
// UnitNumberStoreLoginRefused when it refuses the login, Cancelled when stop() cut the connect
// short. The write ends kept for a later run wait beside the write log at logPath (empty: the
// default one).
std::variant<std::unique_ptr<DatabaseUnitNumberStore>, WriteRefusal> OpenUnitNumberDatabase(
    const Recipe& recipe, const QString& logPath, const std::function<bool()>& stop,
    const std::function<void(const QString&)>& tell);

// Who takes values, and for what: this process's host and user with the recipe, the SHA-256 of
// its text as read and checked, and its signer; without a recipe file, the command line.
IssueContext RecipeIssueContext(const Recipe& recipe, const QStringList& arguments);

// Each board's image: the job's, or, with unit numbers, the job's with a value of its own taken
// from store for it now, for the port of the same place (values are never handed out twice, so a
// write that fails leaves a gap, and each is in the store's record before this returns). Refused
// when the unit-number area holds data, the values have run out or the store refuses them;
// Cancelled when wait.stop() cut the take short.
std::variant<std::vector<BoardImage>, WriteRefusal> BoardImages(
    const Recipe& recipe, const WriteJob& job, const QStringList& ports, UnitNumberStore& store,
    const IssueContext& context, const TakeWait& wait);

// What a station's check adds to the file's report: the recipe's signer, the kernel's and
// image's approval, the ports (each on another machine reached now, PortReach) and the unit
// numbers left; status 0 when the station is ready, else the first problem's (11 unreleased,
// unapproved, a unit-number area with data or unit numbers refused, 9 a port absent or not
// reached, 2 a name for two adapters or two names for one device, 14 the line's database away,
// 15 its login refused). stop() true (a signal came) ends the waits for ports on other machines.
struct StationCheck {
    QStringList lines;
    int status = 0;
};
StationCheck CheckStation(const Recipe& recipe, const WriteJob& job, UnitNumberStore& store,
                          const std::function<bool()>& stop);

}  // namespace morven
