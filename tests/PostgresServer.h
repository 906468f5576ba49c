#pragma once
// A PostgreSQL server of the test's own, as a line's database: initdb into a temporary folder,
// pg_ctl with its Unix socket in that folder and no TCP at all, run as an unprivileged user
// (the server refuses root: under root, as nobody). It is stopped when the object goes, also
// when a test fails. Its includer defines MORVEN_CLI, the morven-cli that makes counters.

#include <pwd.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class PostgresServer {
public:
    // The line's schema from morven-line.sql in a database "morven", a login role for each of
    // stations in morven_station, "lead" in morven_lists, and "outsider", a station whose login
    // needs a password.
    explicit PostgresServer(const QStringList& stations) {
        dir_.setAutoRemove(true);
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody || ::chown(QFile::encodeName(dir_.path()).constData(), nobody->pw_uid,
                                   nobody->pw_gid) != 0)
                qFatal("cannot hand %s to the user nobody", qPrintable(dir_.path()));
            runAs_ = {"runuser", "-u", "nobody", "--"};
        }
        Server({"initdb", "-D", Data(), "-U", "postgres", "--auth=trust", "-E", "UTF8",
                "--no-locale", "--no-sync"});
        // Every role is trusted but "outsider", whose login needs its password, "right".
        QFile hba(dir_.filePath("data/pg_hba.conf"));
        if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            hba.write("local all outsider scram-sha-256\nlocal all all trust\n") < 0)
            qFatal("cannot write %s", qPrintable(hba.fileName()));
        hba.close();
        Start();
        Psql({"-d", "postgres", "-c", "CREATE DATABASE morven"});
        Psql({"-d", "morven", "-f", MORVEN_LINE_SQL});
        QString roles =
            "CREATE ROLE lead LOGIN IN ROLE morven_lists;"
            "CREATE ROLE outsider LOGIN PASSWORD 'right' IN ROLE morven_station;";
        for (const QString& station : stations)
            roles += "CREATE ROLE " + station + " LOGIN IN ROLE morven_station;";
        Psql({"-d", "morven", "-c", roles});
    }
    ~PostgresServer() { Stop(); }
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    void Start() {
        Server({"pg_ctl", "-D", Data(), "-l", dir_.filePath("server.log"), "-w", "-t", "60", "-o",
                "-k " + dir_.path() + " -c listen_addresses='' -c fsync=off", "start"});
        running_ = true;
    }
    // Fast: every connection is ended at once, as when a server is shut down under the line.
    void Stop() {
        if (!running_) return;
        running_ = false;
        Server({"pg_ctl", "-D", Data(), "-m", "fast", "-w", "-t", "60", "stop"});
    }

    // The URI a station gives: its role, the socket's folder, and the counter or list NAME.
    QString Uri(const QString& role, const QString& name = {}) const {
        return "postgresql:///morven?host=" + dir_.path() + "&user=" + role +
               (name.isEmpty() ? QString() : "#" + name);
    }
    QString Folder() const { return dir_.path(); }

    // psql's unaligned rows, fields split at |; as role (postgres: the owner). The error's
    // words instead when it fails and error is given.
    QList<QStringList> Query(const QString& sql, const QString& role = "postgres",
                             QString* error = nullptr) const {
        QProcess psql;
        psql.start("psql", {"-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h", dir_.path(),
                            "-U", role, "-d", "morven", "-c", sql});
        if (!psql.waitForFinished(60000)) qFatal("psql does not end");
        const QByteArray err = psql.readAllStandardError();
        if (psql.exitCode() != 0 && !error) qFatal("psql: %s", err.constData());
        if (error) *error = psql.exitCode() == 0 ? QString() : QString::fromUtf8(err);
        QList<QStringList> rows;
        for (const QString& line :
             QString::fromUtf8(psql.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
            rows << line.split('|');
        return rows;
    }

    // The line's lead makes the counter NAME (empty: the default) with the rule morven-cli's
    // options give (--serial-at ADDR, --serial-format ...), as stations need before they take.
    void MakeCounter(const QStringList& rule, const QString& name = {}) const {
        QProcess cli;
        cli.start(MORVEN_CLI,
                  QStringList{"--serial-make-counter", "--serial-state", Uri("lead", name)} + rule);
        if (!cli.waitForFinished(60000) || cli.exitStatus() != QProcess::NormalExit ||
            cli.exitCode() != 0)
            qFatal("morven-cli --serial-make-counter: %s", cli.readAllStandardError().constData());
    }

    // session, as the owner, takes a lock with lock (a statement in a transaction that then
    // sleeps a minute), and holds it: mode on relation, granted, when this returns.
    void HoldLock(QProcess& session, const QString& lock, const QString& relation,
                  const QString& mode) const {
        session.start("psql", {"-X", "-q", "-h", dir_.path(), "-U", "postgres", "-d", "morven",
                               "-c", "BEGIN; " + lock + "; SELECT pg_sleep(60)"});
        QTRY_COMPARE(Query("SELECT count(*) FROM pg_locks l JOIN pg_class c ON c.oid = "
                           "l.relation WHERE l.granted AND c.relname = '" +
                           relation + "' AND l.mode = '" + mode + "'")[0][0],
                     QString("1"));
    }

private:
    QString Data() const { return dir_.filePath("data"); }

    void Psql(const QStringList& arguments) const {
        QProcess psql;
        psql.start("psql", QStringList{"-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", dir_.path(), "-U",
                                       "postgres"} +
                               arguments);
        if (!psql.waitForFinished(60000) || psql.exitCode() != 0)
            qFatal("psql: %s", psql.readAllStandardError().constData());
    }

    // One of the server's programs, as the server's user.
    void Server(QStringList arguments) const {
        arguments[0] = QStringLiteral(POSTGRES_BIN) + "/" + arguments[0];
        arguments = runAs_ + arguments;
        QProcess program;
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.setWorkingDirectory(dir_.path());
        program.start(arguments.takeFirst(), arguments);
        if (!program.waitForFinished(120000) || program.exitStatus() != QProcess::NormalExit ||
            program.exitCode() != 0)
            qFatal("%s: %s (PostgreSQL 15: tools/install-deps.sh)", qPrintable(arguments.join(' ')),
                   program.readAll().constData());
    }

    QTemporaryDir dir_;
    QStringList runAs_;
    bool running_ = false;
};
