#include "DatabaseSerialStore.h"

#include <QFileInfo>
#include <limits>

#include "SerialList.h"
#include "WriteRecord.h"

namespace morven {

namespace {

// A busy line's takers may be serialised out under REPEATABLE READ or SERIALIZABLE: each try
// takes nothing, and the next one sees the moved counter.
constexpr int TakeAttempts = 20;

bool Retryable(const DatabaseConnection::Error& error) {
    return !error.lost && (error.sqlState == QLatin1String("40001") ||  // serialization
                           error.sqlState == QLatin1String("40P01"));   // deadlock
}

// A text[] parameter: {"a","b"}, quotes and backslashes escaped.
QByteArray ArrayLiteral(const QStringList& items) {
    QStringList quoted;
    for (QString item : items) {
        item.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        item.replace(QLatin1Char('"'), QStringLiteral("\\\""));
        quoted << QLatin1Char('"') + item + QLatin1Char('"');
    }
    return (QLatin1Char('{') + quoted.join(QLatin1Char(',')) + QLatin1Char('}')).toUtf8();
}

QString Schema() {
    return QStringLiteral(
        "; create it with psql -f /usr/share/morven/morven-line.sql (the README's production "
        "line)");
}

}  // namespace

DatabaseSerialStore::DatabaseSerialStore(const SerialRule& rule, QString pendingPath)
    : database_(DatabaseConnection::Shown(WithoutName(rule.statePath))),
      name_(NameIn(rule.statePath, rule.listPath.isEmpty() ? QStringLiteral("counter")
                                                           : QFileInfo(rule.listPath).fileName())),
      source_((rule.listPath.isEmpty() ? QStringLiteral("counter ") : QStringLiteral("list ")) +
              name_),
      connection_(WithoutName(rule.statePath)),
      pending_(std::move(pendingPath)) {}

QString DatabaseSerialStore::NameIn(const QString& uri, const QString& fallback) {
    const qsizetype hash = uri.indexOf(QLatin1Char('#'));
    return hash < 0 || hash + 1 == uri.size() ? fallback : uri.mid(hash + 1);
}

QString DatabaseSerialStore::WithoutName(const QString& uri) {
    return uri.left(uri.indexOf(QLatin1Char('#')));
}

std::optional<QString> DatabaseSerialStore::Connect(const Stop& stop) {
    auto refused = connection_.Open(stop);
    if (!refused) away_.clear();
    return refused;
}

std::optional<WriteRefusal> DatabaseSerialStore::Connected(const Stop& stop) {
    if (connection_.IsOpen()) return std::nullopt;
    if (const auto away = Connect(stop)) return Away(*away);
    return std::nullopt;
}

WriteRefusal DatabaseSerialStore::Away(const QString& why) {
    return {WriteOutcome::SerialStoreAway,
            QStringLiteral("No serial values: ") + why + QStringLiteral(". Nothing was sent.")};
}

WriteRefusal DatabaseSerialStore::Refusal(const DatabaseConnection::Error& error) const {
    const Problem problem = Failure(error);
    return problem.away ? Away(problem.text) : SerialRefusal(problem.text);
}

DatabaseSerialStore::Problem DatabaseSerialStore::Failure(
    const DatabaseConnection::Error& error) const {
    if (error.lost)
        return {true, QStringLiteral("the database at ") + connection_.Host() +
                          QStringLiteral(" went away: ") + error.text};
    // An undefined schema or function: a database nobody prepared for the line.
    if (error.sqlState == QLatin1String("3F000") || error.sqlState == QLatin1String("42883"))
        return {false, QStringLiteral("the database at ") + connection_.Host() +
                           QStringLiteral(" holds no line schema (") + error.text +
                           QLatin1Char(')') + Schema()};
    if (error.sqlState == QLatin1String("MV001"))
        return {false, error.text +
                           QStringLiteral("; a product with another rule needs a counter or list "
                                          "of its own: name it after # in the URI (") +
                           database_ + QStringLiteral("#NAME)")};
    return {false, error.text};
}

std::variant<QList<SerialValue>, WriteRefusal> DatabaseSerialStore::Take(
    const SerialRule& rule, const QStringList& ports, const IssueContext& context,
    const TakeWait& wait) {
    const Stop& stop = wait.stop;
    if (const auto away = Connected(stop)) return *away;
    const bool counter = rule.listPath.isEmpty();
    QList<QByteArray> parameters{name_.toUtf8(), rule.Text().toUtf8()};
    if (counter)
        parameters << QByteArray::number(rule.start) << QByteArray::number(rule.step)
                   << QByteArray::number(rule.format.Largest());
    const QString recipe = context.recipePath.isEmpty() ? context.command : context.recipePath;
    parameters << ArrayLiteral(ports) << recipe.toUtf8()
               << (context.recipeSha256.isEmpty() ? QByteArray() : context.recipeSha256)
               << context.host.toUtf8() << context.user.toUtf8();
    const char* const sql =
        counter ? "SELECT v FROM unnest(morven.take_counter($1, $2, $3, $4, $5, $6, $7, $8, $9, "
                  "$10)) WITH ORDINALITY AS t(v, k) ORDER BY k"
                : "SELECT v FROM unnest(morven.take_list($1, $2, $3, $4, $5, $6, $7)) "
                  "WITH ORDINALITY AS t(v, k) ORDER BY k";
    // One short transaction: the values, their rows, and the values checked against the
    // format before anything is committed.
    for (int attempt = 1;; ++attempt) {
        if (const auto begun = connection_.Exec("BEGIN", {}, stop);
            std::holds_alternative<DatabaseConnection::Error>(begun))
            return Refusal(std::get<DatabaseConnection::Error>(begun));
        auto taken = connection_.Exec(sql, parameters, stop);
        const auto abandon = [&] { connection_.Exec("ROLLBACK", {}, stop); };
        if (const auto* error = std::get_if<DatabaseConnection::Error>(&taken)) {
            if (!error->lost) abandon();
            if (Retryable(*error) && attempt < TakeAttempts) continue;
            return Refusal(*error);
        }
        QList<SerialValue> values;
        for (const QStringList& row : std::get<DatabaseConnection::Rows>(taken)) {
            auto value = SerialList::Value(rule.format, row.value(0));
            if (const auto* why = std::get_if<QString>(&value)) {
                abandon();
                return SerialRefusal(QStringLiteral("the ") + source_ +
                                     QStringLiteral("'s value \"") + row.value(0) +
                                     QStringLiteral("\" ") + *why);
            }
            values << std::get<SerialValue>(value);
        }
        const auto committed = connection_.Exec("COMMIT", {}, stop);
        if (const auto* error = std::get_if<DatabaseConnection::Error>(&committed)) {
            if (Retryable(*error) && attempt < TakeAttempts) continue;
            return Refusal(*error);
        }
        return values;
    }
}

QString DatabaseSerialStore::Update(const QJsonObject& row, const Stop& stop) {
    if (!away_.isEmpty()) return away_;
    if (!connection_.IsOpen())
        if (const auto refused = Connect(stop)) {
            away_ = *refused;
            return away_;
        }
    const QList<QByteArray> parameters{
        row[QStringLiteral("source")].toString().toUtf8(),
        row[QStringLiteral("value")].toString().toUtf8(),
        row[QStringLiteral("outcome")].toString().toUtf8(),
        QByteArray::number(row[QStringLiteral("status")].toInt()),
        QByteArray::number(row[QStringLiteral("seconds")].toDouble()),
        row[QStringLiteral("image_sha256")].toString().toUtf8(),
        row[QStringLiteral("ended")].toString().toUtf8()};
    const char* const sql = "SELECT morven.record_write($1, $2, $3, $4, $5, $6, $7)";
    auto updated = connection_.Exec(sql, parameters, stop);
    // A connection the server dropped (a restart) is made again once.
    if (const auto* error = std::get_if<DatabaseConnection::Error>(&updated);
        error && error->lost) {
        if (const auto refused = connection_.Open(stop)) {
            away_ = *refused;
            return away_;
        }
        updated = connection_.Exec(sql, parameters, stop);
    }
    const auto* error = std::get_if<DatabaseConnection::Error>(&updated);
    if (!error) return {};
    const Problem problem = Failure(*error);
    if (problem.away) away_ = problem.text;
    return problem.text;
}

QString DatabaseSerialStore::RecordWrite(const WriteRecord& record, const Stop& stop) {
    if (record.serialValue.isEmpty()) return {};
    const QJsonObject row{{"database", database_},
                          {"source", source_},
                          {"value", record.serialValue},
                          {"outcome", record.outcome},
                          {"status", record.status},
                          {"seconds", record.seconds},
                          {"image_sha256", QString::fromLatin1(record.sha256.toHex())},
                          {"ended", record.time.addMSecs(qRound64(record.seconds * 1000))
                                        .toUTC()
                                        .toString(Qt::ISODateWithMs)}};
    const QString why = Update(row, stop);
    if (why.isEmpty() || away_.isEmpty()) return why;
    QString error;
    if (!pending_.Add(row, &error))
        return why + QStringLiteral("; nor can it be kept in ") + pending_.Path() +
               QStringLiteral(": ") + error;
    return why + QStringLiteral("; kept in ") + pending_.Path() +
           QStringLiteral(" for the next run");
}

QString DatabaseSerialStore::UpdatePendingRows(const Stop& stop) {
    const PendingRows::Outcome outcome = pending_.Update([&](const QJsonObject& row) {
        if (row[QStringLiteral("database")].toString() != database_)
            return QStringLiteral("for the database ") + row[QStringLiteral("database")].toString();
        return Update(row, stop);
    });
    QStringList said;
    if (outcome.updated > 0)
        said << QStringLiteral("the issue log's rows of %1 earlier writes updated from %2")
                    .arg(outcome.updated)
                    .arg(pending_.Path());
    if (outcome.kept > 0)
        said << QStringLiteral("%1 earlier writes' rows not updated, kept in %2: %3")
                    .arg(outcome.kept)
                    .arg(pending_.Path(), outcome.problem);
    else if (!outcome.problem.isEmpty())
        said << pending_.Path() + QStringLiteral(" cannot be read: ") + outcome.problem;
    return said.join(QStringLiteral("; "));
}

std::variant<SerialStock, WriteRefusal> DatabaseSerialStore::Stock(const SerialRule& rule) {
    if (const auto away = Connected(stockStop_)) return *away;
    const bool counter = rule.listPath.isEmpty();
    // How many are left, and the next value, as text: a counter's may pass 2^63.
    const auto found = connection_.Exec(
        counter ? "SELECT rule, next, CASE WHEN next > largest THEN 0 "
                  "ELSE least(floor((largest - next) / step) + 1, 18446744073709551615) END "
                  "FROM morven.counter WHERE name = $1"
                : "SELECT l.rule, (SELECT value FROM morven.list_value v WHERE v.list = l.name "
                  "AND v.position = l.taken + 1), l.size - l.taken "
                  "FROM morven.list l WHERE l.name = $1",
        {name_.toUtf8()}, stockStop_);
    if (const auto* error = std::get_if<DatabaseConnection::Error>(&found)) return Refusal(*error);
    const auto& rows = std::get<DatabaseConnection::Rows>(found);
    if (rows.isEmpty()) {
        if (!counter)
            return SerialRefusal(QStringLiteral("no list ") + name_ +
                                 QStringLiteral(" is loaded (morven-cli --serial-load-list)"));
        const quint64 span = (rule.format.Largest() - rule.start) / rule.step;
        return SerialStock{QString::number(rule.start),
                           span == std::numeric_limits<quint64>::max() ? span : span + 1, true};
    }
    const QStringList& row = rows.front();
    if (!row[0].isNull() && row[0] != rule.Text())
        return SerialRefusal(QStringLiteral("the ") + source_ +
                             QStringLiteral(" was started with the rule \"") + row[0] +
                             QStringLiteral("\", not \"") + rule.Text() + QLatin1Char('"'));
    const quint64 left = row[2].toULongLong();
    return SerialStock{left > 0 ? row[1] : QString(), left, false};
}

std::variant<QString, DatabaseSerialStore::Problem> DatabaseSerialStore::LoadList(
    const QString& uri, const QString& path, const SerialFormat& format,
    const Stop& stop) {
    const auto read = SerialList::Read(path, format);
    if (const auto* why = std::get_if<QString>(&read)) return Problem{false, *why};
    QStringList values;
    for (const SerialValue& value : std::get<SerialList>(read).values) values << value.text;
    const QString name = NameIn(uri, QFileInfo(path).fileName());
    DatabaseConnection connection(WithoutName(uri));
    if (const auto refused = connection.Open(stop)) return Problem{true, *refused};
    const auto loaded = connection.Exec("SELECT morven.load_list($1, $2)",
                                        {name.toUtf8(), ArrayLiteral(values)}, stop);
    if (const auto* error = std::get_if<DatabaseConnection::Error>(&loaded))
        return Problem{error->lost,
                       error->text + (error->sqlState == QLatin1String("42501")
                                          ? QStringLiteral(" (lists are loaded by a role in "
                                                           "morven_lists)")
                                          : QString())};
    return QStringLiteral("the list %1 at %2 holds %3 values")
        .arg(name, connection.Host(), std::get<DatabaseConnection::Rows>(loaded).value(0).value(0));
}

}  // namespace morven
