#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <variant>

#include "DatabaseConnection.h"
#include "PendingRows.h"
#include "Serialization.h"

namespace morven {

struct WriteRecord;

// Who takes values, for the issue log's rows: the ports (one value each, in order) and the
// recipe, or the command line, that asked for them.
struct IssueContext {
    QStringList ports;
    QString recipe;
    QByteArray recipeSha256;  // in hex; empty without a recipe
};

// A line's serial values in PostgreSQL (the schema in morven-line.sql): the rule's state is a
// URI, postgresql://HOST/DB#NAME, NAME the counter or list (by default "counter", or the list
// file's name). A gang's values are taken in one short transaction that also adds their rows to
// the issue log; each write's end updates its row. An end that cannot reach the database is kept
// in the pending file, and a later run updates its row.
class DatabaseSerialStore {
public:
    struct Problem {
        bool away = false;  // the database cannot be reached (else: refused)
        QString text;
    };

    DatabaseSerialStore(const SerialRule& rule, QString pendingPath, std::function<bool()> stop);

    // nullopt when connected; else why not, naming the host.
    std::optional<QString> Connect();
    // Updates the rows that earlier runs could not: a line for the operator, empty when none
    // were waiting.
    QString UpdatePendingRows();
    // One value for each of the context's ports; a refusal takes nothing.
    std::variant<QList<SerialValue>, Problem> Take(const IssueContext& context);
    // The record's row updated with its write's end: empty; else why not (the end is then kept
    // for a later run when the database is away).
    QString RecordWrite(const WriteRecord& record);
    // What is left, for a station's check: "next value 1005 (counter main at db:5432)".
    QString StateText();

    // Loads the list file at path (or what was appended to it) under name: what it holds now.
    static std::variant<QString, Problem> LoadList(const QString& uri, const QString& path,
                                                   std::function<bool()> stop);

    // The counter's or list's name in the URI, and the URI without it.
    static QString NameIn(const QString& uri, const QString& fallback);
    static QString WithoutName(const QString& uri);

private:
    QString Update(const QJsonObject& row);
    Problem Failure(const DatabaseConnection::Error& error) const;

    SerialRule rule_;
    QString name_;
    QString source_;  // "counter NAME" or "list NAME", as the issue log names it
    QString ruleText_;
    DatabaseConnection connection_;
    PendingRows pending_;
    QString away_;  // why the database is away, once a write's end could not reach it
};

}  // namespace morven
