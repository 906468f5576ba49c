#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>
#include <variant>

#include "DatabaseWait.h"

struct pg_conn;

namespace morven {

// A PostgreSQL connection (libpq) whose every wait is bounded and ends at once when the stop
// given for that wait says so: connecting takes at most ConnectSeconds, a statement at most
// StatementSeconds (the server is told the same). Credentials come from libpq's own places
// (~/.pgpass, PGPASSFILE, PGSERVICEFILE, a service= in the URI), never from this program.
class DatabaseConnection {
public:
    static constexpr int ConnectSeconds = 10;
    static constexpr int StatementSeconds = 10;

    struct Error {
        QString sqlState;   // empty when the statement never got an answer
        QString text;       // the server's or libpq's words
        bool lost = false;  // the connection is gone: the server away, a time-out, a stop

        // The server refused the login (28P01, 28000): trying again cannot help.
        bool LoginRefused() const { return sqlState.startsWith(QLatin1String("28")); }
        // The statement did not end in time (a statement or lock time-out, the server short of
        // resources), or the connection is gone: trying again later may help.
        bool Transient() const;
    };
    using Rows = QList<QStringList>;  // every column as text; NULL as a null QString
    // True ends the wait at once; empty: only the wait's limit ends it.
    using Stop = std::function<bool()>;

    // uri: a postgresql:// or postgres:// URI, without a password.
    explicit DatabaseConnection(QString uri);
    ~DatabaseConnection();
    DatabaseConnection(const DatabaseConnection&) = delete;
    DatabaseConnection& operator=(const DatabaseConnection&) = delete;

    // nullopt when connected (again: an old connection is closed first); else why not, naming
    // the host. Host names are looked up within the connect's limit, and libpq is given the
    // address beside the name (which TLS still verifies).
    std::optional<Error> Open(const Stop& stop);
    // Whether a connection is made and was not lost since.
    bool IsOpen() const;
    // One statement with its parameters as text ($1, $2, ...; a null QByteArray is NULL).
    std::variant<Rows, Error> Exec(const char* sql, const QList<QByteArray>& parameters,
                                   const Stop& stop);
    // Where the connection goes, as messages name it: "host:port" or the socket's folder.
    QString Host() const;

    static bool IsUri(const QString& text);
    // The URI as it may be shown: any password in it replaced by "***".
    static QString Shown(const QString& uri);
    // Whether the URI carries a password itself, in any spelling libpq reads.
    static bool HasPassword(const QString& uri);
    // A text[] parameter: {"a","b"}, quotes and backslashes escaped.
    static QByteArray TextArray(const QStringList& items);

private:
    using Settings = QList<std::pair<QByteArray, QByteArray>>;  // as DatabaseUri.h's
    std::variant<Settings, QString> ConnectSettings(qint64 deadline, const Stop& stop) const;
    Error Abandon(DatabaseWait why, const QString& doing, int seconds);
    Error Refused(const QString& why) const;

    QString uri_;
    pg_conn* connection_ = nullptr;
};

}  // namespace morven
