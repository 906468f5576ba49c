#include "DatabaseUri.h"

#include <libpq-fe.h>

#include <QRegularExpression>
#include <QUrl>

#include "DatabaseConnection.h"

namespace morven {

namespace {

const QRegularExpression& UserPassword() {
    static const QRegularExpression pattern(QStringLiteral("(://[^/@:?#]*):[^/@?#]*@"));
    return pattern;
}

// A query parameter whose key, percent-decoded, names the password.
const QRegularExpression& QueryParameter() {
    static const QRegularExpression pattern(QStringLiteral("([?&])([^=&#]*)=([^&#]*)"));
    return pattern;
}

}  // namespace

QString FirstLine(const char* text) {
    return QString::fromUtf8(text).trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
}

std::variant<QList<DatabaseSetting>, QString> ParsedUri(const QString& uri) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.toUtf8().constData(), &error);
    if (!options) {
        const QString why = error ? FirstLine(error) : QStringLiteral("out of memory");
        PQfreemem(error);
        return why;
    }
    QList<DatabaseSetting> settings;
    for (const PQconninfoOption* option = options; option->keyword; ++option)
        if (option->val) settings.append(DatabaseSetting(option->keyword, option->val));
    PQconninfoFree(options);
    return settings;
}

QByteArray SettingOf(const QList<DatabaseSetting>& settings, const char* keyword) {
    for (const auto& [key, value] : settings)
        if (key == keyword) return value;
    return {};
}

bool DatabaseConnection::IsUri(const QString& text) {
    return text.startsWith(QStringLiteral("postgresql://")) ||
           text.startsWith(QStringLiteral("postgres://"));
}

QString DatabaseConnection::Shown(const QString& uri) {
    QString shown = uri;
    shown.replace(UserPassword(), QStringLiteral("\\1:***@"));
    QString hidden;
    qsizetype copied = 0;
    for (const QRegularExpressionMatch& parameter : QueryParameter().globalMatch(shown)) {
        const QString key = QUrl::fromPercentEncoding(parameter.captured(2).toUtf8());
        if (key.compare(QLatin1String("password"), Qt::CaseInsensitive) != 0) continue;
        hidden += shown.mid(copied, parameter.capturedStart(3) - copied) + QStringLiteral("***");
        copied = parameter.capturedEnd(3);
    }
    return hidden + shown.mid(copied);
}

bool DatabaseConnection::HasPassword(const QString& uri) {
    const auto parsed = ParsedUri(uri);
    const auto* settings = std::get_if<QList<DatabaseSetting>>(&parsed);
    return (settings && !SettingOf(*settings, "password").isNull()) || Shown(uri) != uri;
}

QByteArray DatabaseConnection::TextArray(const QStringList& items) {
    QStringList quoted;
    for (QString item : items) {
        item.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        item.replace(QLatin1Char('"'), QStringLiteral("\\\""));
        quoted << QLatin1Char('"') + item + QLatin1Char('"');
    }
    return (QLatin1Char('{') + quoted.join(QLatin1Char(',')) + QLatin1Char('}')).toUtf8();
}

}  // namespace morven
