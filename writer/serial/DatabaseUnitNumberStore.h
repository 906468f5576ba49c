#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <variant>

#include "DatabaseConnection.h"
#include "UnitNumberRule.h"
#include "UnitNumberStore.h"
#include "record/PendingRows.h"

namespace morven {

struct WriteRecord;

// A line's unit numbers in PostgreSQL (the schema in morven-line.sql): the rule's state is a
// URI, postgresql://HOST/DB#NAME, NAME the counter or list (by default "counter", or the list
// file's name), made by the line's lead (DatabaseLead.h). A gang's values are taken in one short
// transaction that also adds their rows to the issue log; each write's end updates its row. An
// end that cannot be written, whatever the reason, is kept in the pending file, and a later run
// updates its row.
class DatabaseUnitNumberStore : public UnitNumberStore {
public:
    using Stop = DatabaseConnection::Stop;

    // rule's state names the database. Each operation's waits are ended by the stop it is given
    // (Take: its TakeWait's; Stock: the one set by StopStockWith), each wait bounded by its own
    // limit. A connection that was lost is made again by the next operation.
    DatabaseUnitNumberStore(const UnitNumberRule& rule, QString pendingPath);

    // nullopt when connected; else the refusal, naming the host: UnitNumberStoreAway, or
    // UnitNumberStoreLoginRefused. Take, Stock and RecordWrite connect when this was not called or
    // the connection was lost.
    std::optional<WriteRefusal> Connect(const Stop& stop);
    // Updates the rows that earlier runs could not: a line for the operator, empty when none
    // were waiting.
    QString UpdatePendingRows(const Stop& stop);
    // What ends Stock's waits from now on (its caller goes through UnitNumberStore).
    void StopStockWith(Stop stop) { stockStop_ = std::move(stop); }

    // Refused with UnitNumberStoreAway when the database cannot be reached or does not answer in
    // time, UnitNumberStoreLoginRefused when it refuses the login.
    std::variant<QList<UnitNumber>, WriteRefusal> Take(const UnitNumberRule& rule,
                                                       const QStringList& ports,
                                                       const IssueContext& context,
                                                       const TakeWait& wait) override;
    std::variant<UnitNumberStock, WriteRefusal> Stock(const UnitNumberRule& rule) override;

    // The record's row updated with its write's end: empty; else why not (the end is then kept
    // for a later run).
    QString RecordWrite(const WriteRecord& record, const Stop& stop);

    // "No serial values: why. Nothing was sent.", with status 14.
    static WriteRefusal Away(const QString& why);
    // What error means for whoever asked: its outcome (UnitNumberStoreAway for a database away or
    // late, UnitNumberStoreLoginRefused, else UnitNumbersRefused), and why, naming host.
    static WriteRefusal Failure(const DatabaseConnection::Error& error, const QString& host);

    // The counter's or list's name in the URI, and the URI without it.
    static QString NameIn(const QString& uri, const QString& fallback);
    static QString WithoutName(const QString& uri);

private:
    std::optional<WriteRefusal> Connected(const Stop& stop);
    QString Update(const QJsonObject& row, const Stop& stop);
    WriteRefusal Refusal(const DatabaseConnection::Error& error) const;

    QString database_;  // the URI without NAME, as it may be shown
    QString name_;
    QString source_;  // "counter NAME" or "list NAME", as the issue log names it
    DatabaseConnection connection_;
    PendingRows pending_;
    Stop stockStop_;
    // Why the database is away or late, once a write's end could not reach it: the gang's other
    // ends are kept without a wait each. Cleared by the next take, connect or update of the kept
    // rows.
    QString away_;
};

}  // namespace morven
