#include "DatabaseConnection.h"

#include <libpq-fe.h>
#include <poll.h>

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <cerrno>

namespace morven {

namespace {

// How long a wait lasts before it looks at stop() again.
constexpr int StopLookMs = 50;

const QRegularExpression& UserPassword() {
    static const QRegularExpression pattern(QStringLiteral("(://[^/@:?#]*):[^/@?#]*@"));
    return pattern;
}

const QRegularExpression& PasswordParameter() {
    static const QRegularExpression pattern(QStringLiteral("([?&]password=)[^&#]*"),
                                            QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

// libpq's words: their first line says what failed; hints follow on lines of their own.
QString Trimmed(const char* text) {
    return QString::fromUtf8(text).trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
}

}  // namespace

DatabaseConnection::DatabaseConnection(QString uri) : uri_(std::move(uri)) {}

DatabaseConnection::~DatabaseConnection() {
    if (connection_) PQfinish(connection_);
}

bool DatabaseConnection::IsUri(const QString& text) {
    return text.startsWith(QStringLiteral("postgresql://")) ||
           text.startsWith(QStringLiteral("postgres://"));
}

QString DatabaseConnection::Shown(const QString& uri) {
    QString shown = uri;
    shown.replace(UserPassword(), QStringLiteral("\\1:***@"));
    shown.replace(PasswordParameter(), QStringLiteral("\\1***"));
    return shown;
}

bool DatabaseConnection::HasPassword(const QString& uri) { return Shown(uri) != uri; }

QString DatabaseConnection::Host() const {
    QString host, port;
    if (connection_) {
        host = QString::fromUtf8(PQhost(connection_));
        port = QString::fromUtf8(PQport(connection_));
    } else if (PQconninfoOption* options = PQconninfoParse(uri_.toUtf8().constData(), nullptr)) {
        for (PQconninfoOption* option = options; option->keyword; ++option) {
            const QString keyword = QString::fromLatin1(option->keyword);
            if (keyword == QLatin1String("host")) host = QString::fromUtf8(option->val);
            if (keyword == QLatin1String("port")) port = QString::fromUtf8(option->val);
        }
        PQconninfoFree(options);
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

DatabaseConnection::Wait DatabaseConnection::WaitForSocket(bool forWriting, qint64 deadlineMs,
                                                           const Stop& stop) const {
    const QDeadlineTimer deadline(deadlineMs);
    pollfd socket{PQsocket(connection_), short(forWriting ? POLLOUT : POLLIN), 0};
    while (true) {
        if (stop && stop()) return Wait::Stopped;
        const qint64 left = deadline.remainingTime();
        if (left == 0) return Wait::TimedOut;
        const int ready = ::poll(&socket, 1, int(std::min<qint64>(left, StopLookMs)));
        if (ready > 0) return Wait::Ready;
        if (ready < 0 && errno != EINTR) return Wait::Ready;  // libpq reports the socket's fault
    }
}

DatabaseConnection::Error DatabaseConnection::Abandon(Wait why, const QString& doing, int seconds) {
    // Closed, not cancelled: PQcancel waits for the server without a bound, and a server that
    // hangs would hold the station there. The server's statement_timeout ends what it was
    // doing, and an unfinished transaction takes nothing.
    PQfinish(connection_);
    connection_ = nullptr;
    return {{},
            why == Wait::Stopped
                ? QStringLiteral("interrupted while ") + doing
                : QStringLiteral("no answer within %1 s while ").arg(seconds) + doing,
            true};
}

std::optional<QString> DatabaseConnection::Open(const Stop& stop) {
    if (connection_) PQfinish(connection_);
    const QByteArray uri = uri_.toUtf8();
    const QByteArray connectTimeout = QByteArray::number(ConnectSeconds);
    const QByteArray options =
        "-c statement_timeout=" + QByteArray::number(StatementSeconds * 1000);
    // The URI first, expanded; what follows it overrides it.
    const char* const keywords[] = {"dbname", "connect_timeout", "options", "application_name",
                                    nullptr};
    const char* const values[] = {uri.constData(), connectTimeout.constData(), options.constData(),
                                  "morven-cli", nullptr};
    connection_ = PQconnectStartParams(keywords, values, 1);
    const auto failed = [this](const QString& why) {
        const QString text = QStringLiteral("the database at ") + Host() +
                             QStringLiteral(" cannot be reached: ") + why;
        PQfinish(connection_);
        connection_ = nullptr;
        return text;
    };
    if (!connection_) return QStringLiteral("out of memory for a database connection");
    if (PQstatus(connection_) == CONNECTION_BAD)
        return failed(Trimmed(PQerrorMessage(connection_)));
    const qint64 deadline = QDeadlineTimer(ConnectSeconds * 1000).deadline();
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK) {
        if (state == PGRES_POLLING_FAILED) return failed(Trimmed(PQerrorMessage(connection_)));
        const Wait wait = WaitForSocket(state == PGRES_POLLING_WRITING,
                                        deadline - QDeadlineTimer::current().deadline(), stop);
        if (wait != Wait::Ready) {
            const QString host = Host();
            const QString why = Abandon(wait, QStringLiteral("connecting"), ConnectSeconds).text;
            return QStringLiteral("the database at ") + host +
                   QStringLiteral(" cannot be reached: ") + why;
        }
        state = PQconnectPoll(connection_);
    }
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
        return Error{{}, Trimmed(PQerrorMessage(connection_)), true};
    const qint64 deadline = QDeadlineTimer((StatementSeconds + 5) * 1000).deadline();
    const auto left = [deadline] { return deadline - QDeadlineTimer::current().deadline(); };
    // Sent whole, then read until the answer is complete.
    for (int flushed = PQflush(connection_); flushed != 0; flushed = PQflush(connection_)) {
        if (flushed < 0) return Error{{}, Trimmed(PQerrorMessage(connection_)), true};
        if (const Wait wait = WaitForSocket(true, left(), stop); wait != Wait::Ready)
            return Abandon(wait, QStringLiteral("sending a statement"), StatementSeconds);
    }
    while (PQisBusy(connection_)) {
        if (const Wait wait = WaitForSocket(false, left(), stop); wait != Wait::Ready)
            return Abandon(wait, QStringLiteral("waiting for the database's answer"),
                           StatementSeconds);
        if (!PQconsumeInput(connection_))
            return Error{{}, Trimmed(PQerrorMessage(connection_)), true};
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
                           primary ? Trimmed(primary) : Trimmed(PQerrorMessage(connection_)),
                           PQstatus(connection_) == CONNECTION_BAD};
        }
        PQclear(result);
        // The rest of the answer is already here: PQisBusy was false.
    }
    return answer;
}

}  // namespace morven
