#include "DatabaseUnitNumberStore.h"

#include <QFileInfo>

#include "UnitNumberList.h"
#include "record/WriteRecord.h"

namespace morven {

namespace {

// A busy line's takers may be serialised out under REPEATABLE READ or SERIALIZABLE: each try
// takes nothing, and the next one sees the moved counter.
constexpr int TakeAttempts = 20;

bool Retryable(const DatabaseConnection::Error& error) {
    return !error.lost && (error.sqlState == QLatin1String("40001") ||  // serialization
                           error.sqlState == QLatin1String("40P01"));   // deadlock
}

// record_write's refusal of an end the row holds already: one an earlier run sent, whose
// answer never came back.
bool EndedAlready(const DatabaseConnection::Error& error) {
    return error.sqlState == QLatin1String("MV009");
}

QString Schema() {
    return QStringLiteral(
        "; create it with psql -f /usr/share/morven/morven-line.sql (the README's production "
        "line)");
}

}  // namespace

DatabaseUnitNumberStore::DatabaseUnitNumberStore(const UnitNumberRule& rule, QString pendingPath)
    : database_(DatabaseConnection::Shown(WithoutName(rule.statePath))),
      name_(NameIn(rule.statePath, rule.listPath.isEmpty() ? QStringLiteral("counter")
                                                           : QFileInfo(rule.listPath).fileName())),
      source_((rule.listPath.isEmpty() ? QStringLiteral("counter ") : QStringLiteral("list ")) +
              name_),
      connection_(WithoutName(rule.statePath)),
      pending_(std::move(pendingPath)) {}

QString DatabaseUnitNumberStore::NameIn(const QString& uri, const QString& fallback) {
    const qsizetype hash = uri.indexOf(QLatin1Char('#'));
    return hash < 0 || hash + 1 == uri.size() ? fallback : uri.mid(hash + 1);
}

QString DatabaseUnitNumberStore::WithoutName(const QString& uri) {
    return uri.left(uri.indexOf(QLatin1Char('#')));
}

std::optional<WriteRefusal> DatabaseUnitNumberStore::Connect(const Stop& stop) {
    const auto refused = connection_.Open(stop);
    if (!refused) {
        away_.clear();
        return std::nullopt;
    }
    return WriteRefusal{refused->LoginRefused() ? WriteOutcome::UnitNumberStoreLoginRefused
                                                : WriteOutcome::UnitNumberStoreAway,
                        UnitNumberRefusal(refused->text).text};
}

std::optional<WriteRefusal> DatabaseUnitNumberStore::Connected(const Stop& stop) {
    if (connection_.IsOpen()) return std::nullopt;
    return Connect(stop);
}

WriteRefusal DatabaseUnitNumberStore::Away(const QString& why) {
    return {WriteOutcome::UnitNumberStoreAway, UnitNumberRefusal(why).text};
}

WriteRefusal DatabaseUnitNumberStore::Refusal(const DatabaseConnection::Error& error) const {
    WriteRefusal refusal = Failure(error, connection_.Host());
    if (error.sqlState == QLatin1String("MV001"))
        refusal.text += QStringLiteral(
                            "; a product with another rule needs a counter or list of its own: "
                            "name it after # in the URI (") +
                        database_ + QStringLiteral("#NAME)");
    return {refusal.outcome, UnitNumberRefusal(refusal.text).text};
}

WriteRefusal DatabaseUnitNumberStore::Failure(const DatabaseConnection::Error& error,
                                              const QString& host) {
    const QString database = QStringLiteral("the database at ") + host;
    if (error.LoginRefused()) return {WriteOutcome::UnitNumberStoreLoginRefused, error.text};
    if (error.lost)
        return {WriteOutcome::UnitNumberStoreAway,
                database + QStringLiteral(" went away: ") + error.text};
    if (error.Transient())
        return {WriteOutcome::UnitNumberStoreAway,
                database + QStringLiteral(" did not answer in time (") + error.text +
                    QStringLiteral("): another session holds what it needs; try again")};
    // An undefined schema or function: a database nobody prepared for the line.
    if (error.sqlState == QLatin1String("3F000") || error.sqlState == QLatin1String("42883"))
        return {WriteOutcome::UnitNumbersRefused, database +
                                                      QStringLiteral(" holds no line schema (") +
                                                      error.text + QLatin1Char(')') + Schema()};
    return {WriteOutcome::UnitNumbersRefused, error.text};
}

std::variant<QList<UnitNumber>, WriteRefusal> DatabaseUnitNumberStore::Take(
    const UnitNumberRule& rule, const QStringList& ports, const IssueContext& context,
    const TakeWait& wait) {
    const Stop& stop = wait.stop;
    away_.clear();  // a new gang tries the database again
    if (const auto away = Connected(stop)) return *away;
    const QString recipe = context.recipePath.isEmpty() ? context.command : context.recipePath;
    const QList<QByteArray> parameters{
        name_.toUtf8(),
        rule.Text().toUtf8(),
        DatabaseConnection::TextArray(ports),
        recipe.toUtf8(),
        context.recipeSha256.isEmpty() ? QByteArray() : context.recipeSha256,
        context.host.toUtf8(),
        context.user.toUtf8(),
        context.recipeSigner.isEmpty() ? QByteArray() : context.recipeSigner.toUtf8()};
    const char* const sql =
        rule.listPath.isEmpty()
            ? "SELECT v FROM unnest(morven.take_counter($1, $2, $3, $4, $5, $6, $7, $8)) "
              "WITH ORDINALITY AS t(v, k) ORDER BY k"
            : "SELECT v FROM unnest(morven.take_list($1, $2, $3, $4, $5, $6, $7, $8)) "
              "WITH ORDINALITY AS t(v, k) ORDER BY k";
    // One short transaction: the values, their rows, and the values checked against the
    // format and counted before anything is committed.
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
        const auto& rows = std::get<DatabaseConnection::Rows>(taken);
        if (rows.size() != ports.size()) {
            abandon();
            return UnitNumberRefusal(
                QStringLiteral("the ") + source_ +
                QStringLiteral(" gave %1 values for %2 ports").arg(rows.size()).arg(ports.size()));
        }
        QList<UnitNumber> values;
        for (const QStringList& row : rows) {
            auto value = UnitNumberList::Value(rule.format, row.value(0));
            if (const auto* why = std::get_if<QString>(&value)) {
                abandon();
                return UnitNumberRefusal(QStringLiteral("the ") + source_ +
                                         QStringLiteral("'s value \"") + row.value(0) +
                                         QStringLiteral("\" ") + *why);
            }
            values << std::get<UnitNumber>(value);
        }
        const auto committed = connection_.Exec("COMMIT", {}, stop);
        if (const auto* error = std::get_if<DatabaseConnection::Error>(&committed)) {
            if (Retryable(*error) && attempt < TakeAttempts) continue;
            return Refusal(*error);
        }
        return values;
    }
}

QString DatabaseUnitNumberStore::Update(const QJsonObject& row, const Stop& stop) {
    if (!away_.isEmpty()) return away_;
    if (!connection_.IsOpen())
        if (const auto refused = Connect(stop)) {
            away_ = refused->text;
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
            away_ = refused->text;
            return away_;
        }
        updated = connection_.Exec(sql, parameters, stop);
    }
    const auto* error = std::get_if<DatabaseConnection::Error>(&updated);
    if (!error || EndedAlready(*error)) return {};
    const WriteRefusal failure = Failure(*error, connection_.Host());
    if (failure.outcome != WriteOutcome::UnitNumbersRefused) away_ = failure.text;
    return failure.text;
}

QString DatabaseUnitNumberStore::RecordWrite(const WriteRecord& record, const Stop& stop) {
    if (record.unitNumber.isEmpty()) return {};
    const QJsonObject row{{"database", database_},
                          {"source", source_},
                          {"value", record.unitNumber},
                          {"outcome", record.outcome},
                          {"status", record.status},
                          {"seconds", record.seconds},
                          {"image_sha256", QString::fromLatin1(record.sha256.toHex())},
                          {"ended", record.time.addMSecs(qRound64(record.seconds * 1000))
                                        .toUTC()
                                        .toString(Qt::ISODateWithMs)}};
    const QString why = Update(row, stop);
    if (why.isEmpty()) return why;
    QString error;
    if (!pending_.Add(row, &error))
        return why + QStringLiteral("; nor can it be kept in ") + pending_.Path() +
               QStringLiteral(": ") + error;
    return why + QStringLiteral("; kept in ") + pending_.Path() +
           QStringLiteral(" for the next run");
}

QString DatabaseUnitNumberStore::UpdatePendingRows(const Stop& stop) {
    away_.clear();  // a gang's failure mid-write is no reason not to try the kept rows now
    const PendingRows::Outcome outcome = pending_.Update(
        [&](const QJsonObject& row) {
            if (row[QStringLiteral("database")].toString() != database_)
                return QStringLiteral("for the database ") +
                       row[QStringLiteral("database")].toString();
            return Update(row, stop);
        },
        stop);
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

std::variant<UnitNumberStock, WriteRefusal> DatabaseUnitNumberStore::Stock(
    const UnitNumberRule& rule) {
    if (const auto away = Connected(stockStop_)) return *away;
    const bool counter = rule.listPath.isEmpty();
    // How many are left, and the next value, as text: a counter's may pass 2^63. A list's next
    // value is not the station's to read before it takes it: its place only.
    const auto found = connection_.Exec(
        counter ? "SELECT rule, next, CASE WHEN next > largest THEN 0 "
                  "ELSE least(floor((largest - next) / step) + 1, 18446744073709551615) END "
                  "FROM morven.counter WHERE name = $1"
                : "SELECT rule, 'number ' || (taken + 1) || ' of the list', size - taken "
                  "FROM morven.list WHERE name = $1",
        {name_.toUtf8()}, stockStop_);
    if (const auto* error = std::get_if<DatabaseConnection::Error>(&found)) return Refusal(*error);
    const auto& rows = std::get<DatabaseConnection::Rows>(found);
    if (rows.isEmpty())
        return UnitNumberRefusal(
            counter ? QStringLiteral("no counter ") + name_ +
                          QStringLiteral(" is made (the line's lead makes it: morven-cli "
                                         "--serial-make-counter)")
                    : QStringLiteral("no list ") + name_ +
                          QStringLiteral(" is loaded (morven-cli --serial-load-list)"));
    const QStringList& row = rows.front();
    if (!row[0].isNull() && row[0] != rule.Text())
        return UnitNumberRefusal(QStringLiteral("the ") + source_ +
                                 QStringLiteral(" was started with the rule \"") + row[0] +
                                 QStringLiteral("\", not \"") + rule.Text() + QLatin1Char('"'));
    const quint64 left = row[2].toULongLong();
    return UnitNumberStock{left > 0 ? row[1] : QString(), left, false};
}

}  // namespace morven
