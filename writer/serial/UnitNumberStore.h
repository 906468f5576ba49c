#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <variant>

#include "UnitNumberRule.h"
#include "write/WriteJob.h"

namespace morven {

// Who takes values, and for what: every value issued is on record with it.
struct IssueContext {
    QString host;
    QString user;             // "alice", or "root (sudo from alice)"
    QString recipePath;       // with a recipe: its absolute path,
    QByteArray recipeSha256;  // and the SHA-256 of its file, in hex
    QString command;          // without a recipe: the command line
    QString recipeSigner;     // who signed the recipe; empty when the station checks none

    // This process's host and user; the rest is the caller's.
    static IssueContext OfThisProcess();
};

// Where a rule's values stand, for a station's check.
struct UnitNumberStock {
    QString next;        // the next value, as the record names it; empty when none is left
    quint64 left = 0;    // how many are left, at most 2^64 - 1
    bool fresh = false;  // nothing was taken yet: no state exists
};

// How a take waits while another run holds the values: stop() true ends the wait (a signal
// came), and waiting is told once, with why, when a wait begins.
struct TakeWait {
    std::function<bool()> stop;
    std::function<void(const QString&)> waiting;
};

// Where a line's values come from, and where their issue is recorded. A value is handed out
// once and never again, whatever then happens to its write; a refusal takes nothing.
class UnitNumberStore {
public:
    virtual ~UnitNumberStore() = default;

    // One value for each of ports, in order, all or none, each on record with its port and the
    // context before this returns (and so before any port opens). Refused with UnitNumbersRefused
    // (status 11: no values left, a state that is unreadable, empty, garbled, missing beside
    // the values it handed out, or was started under another rule, a list that changed),
    // Cancelled (the wait was stopped), or by the line's database also UnitNumberStoreAway or
    // UnitNumberStoreLoginRefused.
    virtual std::variant<QList<UnitNumber>, WriteRefusal> Take(const UnitNumberRule& rule,
                                                               const QStringList& ports,
                                                               const IssueContext& context,
                                                               const TakeWait& wait) = 0;

    // What is left, taking and creating nothing; refused as a take would be.
    virtual std::variant<UnitNumberStock, WriteRefusal> Stock(const UnitNumberRule& rule) = 0;
};

// A refusal of unit numbers: "No serial values: why. Nothing was sent."
WriteRefusal UnitNumberRefusal(const QString& why);

}  // namespace morven
