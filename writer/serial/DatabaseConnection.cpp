#include "DatabaseConnection.h"

#include <libpq-fe.h>
#include <poll.h>

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <algorithm>

#include "DatabaseUri.h"

namespace morven {

namespace {

// The server's code in libpq's verbose words: "FATAL:  28P01: password authentication ...".
const QRegularExpression& ServerCode() {
    static const QRegularExpression pattern(
        QStringLiteral("\\b(?:FATAL|ERROR|PANIC):\\s+([0-9A-Z]{5}):\\s+"));
    return pattern;
}

// A host that libpq reaches without a name lookup: a socket's folder, or the default socket.
bool IsSocket(const QByteArray& host) {
    return host.isEmpty() || host.startsWith('/') || host.startsWith('@');
}

}  // namespace

DatabaseConnection::DatabaseConnection(QString uri) : uri_(std::move(uri)) {}

DatabaseConnection::~DatabaseConnection() {
    if (connection_) PQfinish(connection_);
}

bool DatabaseConnection::Error::Transient() const {
    return lost || sqlState == QLatin1String("57014") ||  // statement time-out, cancel
           sqlState == QLatin1String("55P03") ||          // lock time-out
           sqlState == QLatin1String("40001") ||          // serialization, after the retries
           sqlState == QLatin1String("40P01") ||          // deadlock
           sqlState.startsWith(QLatin1String("53")) ||    // out of connections, memory, disk
           sqlState.startsWith(QLatin1String("08")) ||    // the connection
           sqlState.startsWith(QLatin1String("57P"));     // the server shutting down
}

QString DatabaseConnection::Host() const {
    QString host, port;
    if (connection_) {
        host = QString::fromUtf8(PQhost(connection_));
        port = QString::fromUtf8(PQport(connection_));
    } else if (const auto parsed = ParsedUri(uri_); std::holds_alternative<Settings>(parsed)) {
        host = QString::fromUtf8(SettingOf(std::get<Settings>(parsed), "host"));
        port = QString::fromUtf8(SettingOf(std::get<Settings>(parsed), "port"));
    }
    if (host.isEmpty()) host = QStringLiteral("the local socket");
    return port.isEmpty() ? host : host + QLatin1Char(':') + port;
}

bool DatabaseConnection::IsOpen() const {
    // A server that shut down or restarted told its idle clients so and closed their sockets:
    // read that now, so that the next statement goes on a new connection, not on the dead one.
    for (int look = 0; look < 4 && connection_ && PQstatus(connection_) == CONNECTION_OK; ++look) {
        pollfd socket{PQsocket(connection_), POLLIN, 0};
        if (::poll(&socket, 1, 0) <= 0 || !PQconsumeInput(connection_)) break;
    }
    return connection_ && PQstatus(connection_) == CONNECTION_OK;
}

DatabaseConnection::Error DatabaseConnection::Abandon(DatabaseWait why, const QString& doing,
                                                      int seconds) {
    // Closed, not cancelled: PQcancel waits for the server without a bound, and a server that
    // hangs would hold the station there. The server's statement_timeout ends what it was
    // doing, and an unfinished transaction takes nothing.
    PQfinish(connection_);
    connection_ = nullptr;
    return {{},
            why == DatabaseWait::Stopped
                ? QStringLiteral("interrupted while ") + doing
                : QStringLiteral("no answer within %1 s while ").arg(seconds) + doing,
            true};
}

DatabaseConnection::Error DatabaseConnection::Refused(const QString& why) const {
    Error error{{}, why, true};
    if (const QRegularExpressionMatch code = ServerCode().match(why); code.hasMatch()) {
        error.sqlState = code.captured(1);
        error.text.remove(code.capturedStart(1), code.capturedEnd(0) - code.capturedStart(1));
    }
    // The server asked for a password that none of libpq's places holds.
    if (connection_ && PQconnectionNeedsPassword(connection_))
        error.sqlState = QStringLiteral("28P01");
    error.text = QStringLiteral("the database at ") + Host() +
                 (error.LoginRefused() ? QStringLiteral(" refused the login: ")
                                       : QStringLiteral(" cannot be reached: ")) +
                 error.text;
    return error;
}

// The URI's settings for libpq, each host name given its addresses (hostaddr), looked up by the
// deadline; a host whose name cannot be looked up is left out while another is left.
std::variant<DatabaseConnection::Settings, QString> DatabaseConnection::ConnectSettings(
    qint64 deadline, const Stop& stop) const {
    auto parsed = ParsedUri(uri_);
    if (const auto* why = std::get_if<QString>(&parsed)) return *why;
    Settings settings = std::get<Settings>(parsed);
    QByteArray host = SettingOf(settings, "host");
    if (host.isNull()) host = qgetenv("PGHOST");
    if (!SettingOf(settings, "hostaddr").isNull() || !qEnvironmentVariableIsEmpty("PGHOSTADDR"))
        return settings;
    const QList<QByteArray> hosts = host.split(',');
    if (std::all_of(hosts.begin(), hosts.end(), IsSocket)) return settings;
    const QList<QByteArray> ports = SettingOf(settings, "port").split(',');
    QList<QByteArray> names, addresses, portsOf;
    QString why;
    for (qsizetype index = 0; index < hosts.size(); ++index) {
        const QByteArray port = ports.size() == hosts.size() ? ports[index] : ports.front();
        QStringList found{QString()};
        if (!IsSocket(hosts[index])) {
            const auto looked = LookUpHost(QString::fromUtf8(hosts[index]),
                                           deadline - QDeadlineTimer::current().deadline(), stop);
            if (const auto* end = std::get_if<DatabaseWait>(&looked))
                return (*end == DatabaseWait::Stopped
                            ? QStringLiteral("interrupted while looking up ")
                            : QStringLiteral("no answer within %1 s while looking up ")
                                  .arg(ConnectSeconds)) +
                       QString::fromUtf8(hosts[index]);
            if (const auto* error = std::get_if<QString>(&looked)) {
                why = QString::fromUtf8(hosts[index]) + QStringLiteral(" cannot be looked up: ") +
                      *error;
                continue;
            }
            found = std::get<QStringList>(looked);
        }
        for (const QString& address : found) {
            names << hosts[index];
            addresses << address.toLatin1();
            portsOf << port;
        }
    }
    if (names.isEmpty()) return why;
    settings.removeIf(
        [](const auto& setting) { return setting.first == "host" || setting.first == "port"; });
    settings.append(DatabaseSetting("host", names.join(',')));
    settings.append(DatabaseSetting("hostaddr", addresses.join(',')));
    if (!SettingOf(std::get<Settings>(parsed), "port").isNull())
        settings.append(DatabaseSetting("port", portsOf.join(',')));
    return settings;
}

std::optional<DatabaseConnection::Error> DatabaseConnection::Open(const Stop& stop) {
    if (connection_) PQfinish(connection_);
    connection_ = nullptr;
    const qint64 deadline = QDeadlineTimer(ConnectSeconds * 1000).deadline();
    auto made = ConnectSettings(deadline, stop);
    if (const auto* why = std::get_if<QString>(&made)) return Refused(*why);
    Settings settings = std::get<Settings>(std::move(made));
    // Told to the server: no statement of this connection runs longer than a wait for it.
    const QByteArray options = SettingOf(settings, "options");
    settings.removeIf([](const auto& setting) {
        return setting.first == "options" || setting.first == "connect_timeout" ||
               setting.first == "application_name";
    });
    settings.append(DatabaseSetting(
        "options", (options.isEmpty() ? QByteArray() : options + ' ') +
                       "-c statement_timeout=" + QByteArray::number(StatementSeconds * 1000)));
    settings.append(DatabaseSetting("connect_timeout", QByteArray::number(ConnectSeconds)));
    settings.append(DatabaseSetting("application_name", "morven-cli"));
    std::vector<const char*> keywords, values;
    for (const auto& [keyword, value] : settings) {
        keywords.push_back(keyword.constData());
        values.push_back(value.constData());
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    connection_ = PQconnectStartParams(keywords.data(), values.data(), 0);
    if (!connection_)
        return Error{{}, QStringLiteral("out of memory for a database connection"), true};
    // The server's code in the words of a refused login, to tell it from a server away.
    PQsetErrorVerbosity(connection_, PQERRORS_VERBOSE);
    const auto failed = [this] {
        const Error error = Refused(FirstLine(PQerrorMessage(connection_)));
        PQfinish(connection_);
        connection_ = nullptr;
        return error;
    };
    if (PQstatus(connection_) == CONNECTION_BAD) return failed();
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK) {
        if (state == PGRES_POLLING_FAILED) return failed();
        const DatabaseWait wait = WaitForDescriptor(
            PQsocket(connection_), state == PGRES_POLLING_WRITING ? POLLOUT : POLLIN,
            deadline - QDeadlineTimer::current().deadline(), stop);
        if (wait != DatabaseWait::Ready) {
            const QString host = Host();
            Error error = Abandon(wait, QStringLiteral("connecting"), ConnectSeconds);
            error.text = QStringLiteral("the database at ") + host +
                         QStringLiteral(" cannot be reached: ") + error.text;
            return error;
        }
        state = PQconnectPoll(connection_);
    }
    PQsetErrorVerbosity(connection_, PQERRORS_DEFAULT);
    PQsetnonblocking(connection_, 1);
    return std::nullopt;
}

std::variant<DatabaseConnection::Rows, DatabaseConnection::Error> DatabaseConnection::Exec(
    const char* sql, const QList<QByteArray>& parameters, const Stop& stop) {
    if (!connection_) return Error{{}, QStringLiteral("not connected"), true};
    std::vector<const char*> values;
    for (const QByteArray& parameter : parameters)
        values.push_back(parameter.isNull() ? nullptr : parameter.constData());
    if (!PQsendQueryParams(connection_, sql, int(values.size()), nullptr, values.data(), nullptr,
                           nullptr, 0))
        return Error{{}, FirstLine(PQerrorMessage(connection_)), true};
    const qint64 deadline = QDeadlineTimer((StatementSeconds + 5) * 1000).deadline();
    const auto left = [deadline] { return deadline - QDeadlineTimer::current().deadline(); };
    // Sent whole, then read until the answer is complete.
    for (int flushed = PQflush(connection_); flushed != 0; flushed = PQflush(connection_)) {
        if (flushed < 0) return Error{{}, FirstLine(PQerrorMessage(connection_)), true};
        if (const DatabaseWait wait =
                WaitForDescriptor(PQsocket(connection_), POLLOUT, left(), stop);
            wait != DatabaseWait::Ready)
            return Abandon(wait, QStringLiteral("sending a statement"), StatementSeconds);
    }
    while (PQisBusy(connection_)) {
        if (const DatabaseWait wait =
                WaitForDescriptor(PQsocket(connection_), POLLIN, left(), stop);
            wait != DatabaseWait::Ready)
            return Abandon(wait, QStringLiteral("waiting for the database's answer"),
                           StatementSeconds);
        if (!PQconsumeInput(connection_))
            return Error{{}, FirstLine(PQerrorMessage(connection_)), true};
    }
    std::variant<Rows, Error> answer = Rows{};
    while (PGresult* result = PQgetResult(connection_)) {
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_TUPLES_OK && std::holds_alternative<Rows>(answer)) {
            Rows& rows = std::get<Rows>(answer);
            for (int row = 0; row < PQntuples(result); ++row) {
                QStringList columns;
                for (int column = 0; column < PQnfields(result); ++column)
                    columns << (PQgetisnull(result, row, column)
                                    ? QString()
                                    : QString::fromUtf8(PQgetvalue(result, row, column)));
                rows << columns;
            }
        } else if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
            answer = Error{QString::fromLatin1(PQresultErrorField(result, PG_DIAG_SQLSTATE)),
                           primary ? FirstLine(primary) : FirstLine(PQerrorMessage(connection_)),
                           PQstatus(connection_) == CONNECTION_BAD};
        }
        PQclear(result);
        // The rest of the answer is already here: PQisBusy was false.
    }
    return answer;
}

}  // namespace morven
