#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <utility>
#include <variant>

namespace morven {

// A keyword of libpq's and its value.
using DatabaseSetting = std::pair<QByteArray, QByteArray>;

// What libpq reads from a connection URI (its own parser, PQconninfoParse): each keyword set in
// it with its value, or why the URI cannot be read.
std::variant<QList<DatabaseSetting>, QString> ParsedUri(const QString& uri);
// keyword's value in settings; null when it is not set.
QByteArray SettingOf(const QList<DatabaseSetting>& settings, const char* keyword);

// libpq's words: their first line says what failed; hints follow on lines of their own.
QString FirstLine(const char* text);

}  // namespace morven
