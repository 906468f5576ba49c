#include "DatabaseLead.h"

#include <QFileInfo>

#include "DatabaseUnitNumberStore.h"
#include "UnitNumberList.h"

namespace morven {

namespace {

// One statement of the lead's: its first row's first column, or the refusal.
std::variant<QString, WriteRefusal> LeadStatement(const QString& uri, const char* sql,
                                                  const QList<QByteArray>& parameters,
                                                  const DatabaseConnection::Stop& stop) {
    DatabaseConnection connection(DatabaseUnitNumberStore::WithoutName(uri));
    if (const auto refused = connection.Open(stop))
        return WriteRefusal{refused->LoginRefused() ? WriteOutcome::UnitNumberStoreLoginRefused
                                                    : WriteOutcome::UnitNumberStoreAway,
                            refused->text};
    const auto answer = connection.Exec(sql, parameters, stop);
    if (const auto* error = std::get_if<DatabaseConnection::Error>(&answer)) {
        WriteRefusal refusal = DatabaseUnitNumberStore::Failure(*error, connection.Host());
        if (error->sqlState == QLatin1String("42501"))
            refusal.text += QStringLiteral(
                " (counters are made and lists loaded by a role in "
                "morven_lists)");
        return refusal;
    }
    return std::get<DatabaseConnection::Rows>(answer).value(0).value(0);
}

}  // namespace

std::variant<QString, WriteRefusal> MakeCounter(const UnitNumberRule& rule,
                                                const DatabaseConnection::Stop& stop) {
    const QString name = DatabaseUnitNumberStore::NameIn(rule.statePath, QStringLiteral("counter"));
    auto made =
        LeadStatement(rule.statePath, "SELECT morven.make_counter($1, $2, $3, $4, $5)",
                      {name.toUtf8(), rule.Text().toUtf8(), QByteArray::number(rule.start),
                       QByteArray::number(rule.step), QByteArray::number(rule.format.Largest())},
                      stop);
    if (const auto* next = std::get_if<QString>(&made))
        return QStringLiteral("the counter %1 (%2) at %3: next value %4")
            .arg(name, rule.Text(),
                 DatabaseConnection::Shown(DatabaseUnitNumberStore::WithoutName(rule.statePath)),
                 *next);
    return made;
}

std::variant<QString, WriteRefusal> LoadList(const QString& uri, const QString& path,
                                             const UnitNumberFormat& format,
                                             const DatabaseConnection::Stop& stop) {
    const auto read = UnitNumberList::Read(path, format);
    if (const auto* why = std::get_if<QString>(&read))
        return WriteRefusal{WriteOutcome::UnitNumbersRefused, *why};
    QStringList values;
    for (const UnitNumber& value : std::get<UnitNumberList>(read).values) values << value.text;
    const QString name = DatabaseUnitNumberStore::NameIn(uri, QFileInfo(path).fileName());
    auto loaded = LeadStatement(uri, "SELECT morven.load_list($1, $2)",
                                {name.toUtf8(), DatabaseConnection::TextArray(values)}, stop);
    if (const auto* size = std::get_if<QString>(&loaded))
        return QStringLiteral("the list %1 at %2 holds %3 values")
            .arg(name, DatabaseConnection::Shown(DatabaseUnitNumberStore::WithoutName(uri)), *size);
    return loaded;
}

}  // namespace morven
