// A line of stations on one PostgreSQL database: one number space, one issue log, and nothing
// lost when the database goes away.
#include <unistd.h>

#include <QSet>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryFile>
#include <QUdpSocket>
#include <csignal>

#include "PostgresServer.h"
#include "ProductionLine.h"

namespace {

const QStringList Stations{"station_a", "station_b"};
const QByteArray Macs =
    "00:1A:2B:00:00:01\n00:1A:2B:00:00:02\n00:1A:2B:00:00:03\n"
    "00:1A:2B:00:00:04\n00:1A:2B:00:00:05\n";

QStringList Counter(const QString& uri) { return {"--serial-at", "0x3000", "--serial-state", uri}; }

// The lead makes the counter the stations' Counter() takes from, with rule's settings besides.
void MakeCounter(const PostgresServer& server, const QStringList& rule = {}) {
    server.MakeCounter(QStringList{"--serial-at", "0x3000"} + rule);
}

QStringList List(const QString& uri, const QString& file) {
    return {"--serial-at",   "0x3000", "--serial-format", "bytes:6",
            "--serial-list", file,     "--serial-state",  uri};
}

// libpq's password file for the processes the test starts, while the object lives.
class PasswordFile {
public:
    explicit PasswordFile(const QByteArray& lines) {
        if (!file_.open() || file_.write(lines) != lines.size() || !file_.flush())
            qFatal("cannot write a password file");
        qputenv("PGPASSFILE", QFile::encodeName(file_.fileName()));
    }
    ~PasswordFile() { qunsetenv("PGPASSFILE"); }

private:
    QTemporaryFile file_;  // mode 600, as libpq wants it
};

// The progress lines a write prints without --quiet.
QStringList Loud(QStringList arguments) {
    arguments.removeOne("--quiet");
    return arguments;
}

}  // namespace

class TestLineDatabase : public QObject {
    Q_OBJECT

private slots:
    // Four processes, each a gang of two, take from one counter at once: 1 to 8, each once,
    // whatever the isolation level the database gives its sessions.
    void fourGangsShareOneCounter_data() {
        QTest::addColumn<QString>("isolation");
        QTest::newRow("read committed") << "read committed";
        QTest::newRow("repeatable read") << "repeatable read";
        QTest::newRow("serializable") << "serializable";
    }

    void fourGangsShareOneCounter() {
        QFETCH(QString, isolation);
        PostgresServer server(Stations);
        server.Query("ALTER DATABASE morven SET default_transaction_isolation = '" + isolation +
                     "'");
        MakeCounter(server);
        Line line(8);
        QProcess gangs[4];
        for (int i = 0; i < 4; ++i)
            StartCli(gangs[i], line.Write(Counter(server.Uri(Stations[i % 2])), 2 * i, 2));
        for (QProcess& gang : gangs) {
            const CliRun run = Finish(gang);
            QVERIFY2(run.status == 0, run.out);
        }
        QList<QStringList> expected;
        for (int value = 1; value <= 8; ++value)
            expected << QStringList{QString::number(value), "O.K."};
        QCOMPARE(server.Query("SELECT value, outcome FROM morven.issued ORDER BY value::int"),
                 expected);
    }

    // A list loaded once is taken by two processes at once, each value once, until it is used
    // up; then a refusal that sends nothing. A list whose loaded lines changed is not loaded.
    void listTakenAcrossProcessesUntilUsedUp() {
        PostgresServer server(Stations);
        Line line(6);
        const QString file = line.Path("macs.txt");
        SimulatedWrite::WriteFile(file, Macs);
        const CliRun load = Cli({"--serial-load-list", file, "--serial-format", "bytes:6",
                                 "--serial-state", server.Uri("lead")});
        QCOMPARE(load.status, 0);
        QVERIFY2(load.out.contains("holds 5 values"), load.out);

        QProcess first, second;
        StartCli(first, line.Write(List(server.Uri("station_a"), file), 0, 2));
        StartCli(second, line.Write(List(server.Uri("station_b"), file), 2, 2));
        QCOMPARE(Finish(first).status, 0);
        QCOMPARE(Finish(second).status, 0);
        QSet<QString> written;
        for (const QJsonObject& record : LogLines(line.Path("writes.jsonl")))
            written << record["serial_value"].toString();
        QCOMPARE(written, QSet<QString>({"00:1A:2B:00:00:01", "00:1A:2B:00:00:02",
                                         "00:1A:2B:00:00:03", "00:1A:2B:00:00:04"}));

        const CliRun usedUp = Cli(line.Write(List(server.Uri("station_a"), file), 4, 2));
        QCOMPARE(usedUp.status, 11);
        QVERIFY2(usedUp.err.contains("is used up: 1 of its 5 values left, 2 needed"), usedUp.err);
        QVERIFY(line.boards[4]->HostBytes().isEmpty());

        SimulatedWrite::WriteFile(file, QByteArray(Macs).replace("00:02", "00:22"));
        const CliRun changed = Cli({"--serial-load-list", file, "--serial-format", "bytes:6",
                                    "--serial-state", server.Uri("lead")});
        QCOMPARE(changed.status, 11);
        QVERIFY2(changed.err.contains("line 2 of the list macs.txt differs"), changed.err);
    }

    // The lead makes a counter once: again with the same rule it stays as it is; with another
    // rule, or by a station, it is refused.
    void leadMakesACounterOnce_data() {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QStringList>("rule");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("the same rule") << "lead" << QStringList() << 0 << "next value 1";
        QTest::newRow("another start") << "lead" << QStringList{"--serial-start", "5"} << 11
                                       << "the counter counter exists with the rule";
        QTest::newRow("by a station") << "station_a" << QStringList() << 11
                                      << "permission denied for function make_counter (counters "
                                         "are made and lists loaded by a role in morven_lists)";
    }

    void leadMakesACounterOnce() {
        QFETCH(QString, role);
        QFETCH(QStringList, rule);
        QFETCH(int, status);
        QFETCH(QString, says);
        PostgresServer server(Stations);
        MakeCounter(server);
        const CliRun run =
            Cli(QStringList{"--serial-make-counter"} + Counter(server.Uri(role)) + rule);
        QCOMPARE(run.status, status);
        QVERIFY2((run.out + run.err).contains(says.toUtf8()), run.out + run.err);
        QCOMPARE(server.Query("SELECT first, step, next FROM morven.counter"),
                 (QList<QStringList>{{"1", "1", "1"}}));
    }

    // What cannot give values is refused before any port opens, takes nothing, and says why.
    void refusedBeforeAnyPortOpens_data() {
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("server stopped") << "stopped" << 14 << "cannot be reached";
        QTest::newRow("counter held, lock time-out")
            << "lock" << 14 << "did not answer in time (canceling statement due to lock timeout)";
        QTest::newRow("counter held, statement time-out")
            << "statement" << 14
            << "did not answer in time (canceling statement due to statement timeout)";
        QTest::newRow("no password") << "no password" << 15 << "fe_sendauth: no password supplied";
        QTest::newRow("wrong password")
            << "wrong password" << 15 << "password authentication failed for user";
        QTest::newRow("unknown role") << "unknown role" << 15 << "role \"ghost\" does not exist";
        QTest::newRow("another rule") << "rule" << 11 << "was started with the rule";
        QTest::newRow("counter run out") << "le:1" << 11 << "has run out: 1 of the 2 values";
        QTest::newRow("counter not made")
            << "not made" << 11 << "no counter counter is made (the line's lead makes it";
        QTest::newRow("a take of the wrong count") << "count" << 11 << "gave 3 values for 2 ports";
        QTest::newRow("no list loaded") << "list" << 11 << "no list macs.txt is loaded";
        QTest::newRow("password in the URI") << "password" << 2 << "no password in the URI";
        QTest::newRow("password key percent-encoded")
            << "pass%77ord" << 2 << "no password in the URI";
    }

    void refusedBeforeAnyPortOpens() {
        QFETCH(QString, refusal);
        QFETCH(int, status);
        QFETCH(QString, says);
        PostgresServer server(Stations);
        Line line(2);
        QString uri = server.Uri(refusal.contains("password") ? "outsider"
                                 : refusal == "unknown role"  ? "ghost"
                                                              : "station_a");
        QStringList serial = Counter(uri);
        const QStringList le1{"--serial-format", "le:1", "--serial-start", "255"};
        if (refusal != "not made") MakeCounter(server, refusal == "le:1" ? le1 : QStringList());
        if (refusal == "rule") {
            QCOMPARE(Cli(line.Write(serial, 0, 1)).status, 0);
            line.boards[0]->Board().ClearWireLog();
            serial << "--serial-start"
                   << "100";
        }
        if (refusal == "le:1") serial << le1;
        if (refusal == "list") serial = List(uri, line.Path("macs.txt"));
        if (refusal == "password")
            serial.replaceInStrings("postgresql://", "postgresql://station_a:secret@");
        if (refusal == "pass%77ord") serial[3] += "&pass%77ord=secret";
        // The counter's row held by another session for longer than the station waits.
        QProcess holder;
        if (refusal == "lock") server.Query("ALTER ROLE station_a SET lock_timeout = '200ms'");
        if (refusal == "lock" || refusal == "statement")
            server.HoldLock(holder, "SELECT FROM morven.counter FOR UPDATE", "counter",
                            "RowShareLock");
        PasswordFile wrong(refusal == "wrong password" ? "*:*:*:outsider:wrong\n" : "");
        if (refusal == "count")
            server.Query("CREATE OR REPLACE FUNCTION morven.take_counter(counter_name text, "
                         "counter_rule text, ports text[], recipe text, recipe_sha256 text, "
                         "host text, os_user text) RETURNS text[] LANGUAGE sql "
                         "AS $$ SELECT ARRAY['1', '2', '3'] $$");
        if (refusal == "stopped") server.Stop();
        const QString taken = refusal == "stopped"
                                  ? QString()
                                  : server.Query("SELECT count(*) FROM morven.issued")[0][0];
        const CliRun run = Cli(line.Write(serial, 0, 2), {}, 30000);
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(says.toUtf8()), run.err);
        QVERIFY2(!run.err.contains("secret"), run.err);
        if (refusal == "stopped") QVERIFY2(run.err.contains(server.Folder().toUtf8()), run.err);
        for (const auto& board : line.boards) QVERIFY(board->HostBytes().isEmpty());
        if (refusal != "stopped")
            QCOMPARE(server.Query("SELECT count(*) FROM morven.issued")[0][0], taken);
        holder.kill();
        holder.waitForFinished();
    }

    // A database that goes away during a write: the write goes on, its record says the row was
    // not updated and keeps it; the next run updates the row from it.
    void databaseGoneMidWrite() {
        PostgresServer server(Stations);
        MakeCounter(server);
        Line line(1, {"block:1=delay:1500"});
        const QStringList write = line.Write(Counter(server.Uri("station_a")));
        QProcess first;
        StartCli(first, Loud(write));
        WaitForImageStage(first);
        server.Stop();
        const CliRun gone = Finish(first);
        QCOMPARE(gone.status, 0);
        QVERIFY2(gone.err.contains("the row of serial 1 is not updated: "), gone.err);
        const QJsonObject record = LogLines(line.Path("writes.jsonl")).last();
        QVERIFY2(record["serial_row"].toString().startsWith("not updated: "),
                 qPrintable(record["serial_row"].toString()));

        server.Start();
        const CliRun next = Cli(write);
        QCOMPARE(next.status, 0);
        QVERIFY2(next.err.contains("rows of 1 earlier writes updated"), next.err);
        QCOMPARE(server.Query("SELECT value, outcome, status, image_sha256 FROM morven.issued "
                              "ORDER BY value::int"),
                 (QList<QStringList>{
                     {"1", "O.K.", "0", record["sha256"].toString()},
                     {"2", "O.K.", "0",
                      LogLines(line.Path("writes.jsonl")).last()["sha256"].toString()}}));
    }

    // A station killed after its values were issued and before its write ended: the row shows
    // the gap, with the port and the time it was issued.
    void killBetweenIssuingAndWriting() {
        PostgresServer server(Stations);
        MakeCounter(server);
        Line line(1);
        QProcess killed;
        StartCli(killed, line.Write(Counter(server.Uri("station_a"))));
        QByteArray seen;
        QTRY_VERIFY2((seen += killed.readAllStandardError()).contains("serial 1,"), seen);
        ::kill(pid_t(killed.processId()), SIGKILL);
        QCOMPARE(Finish(killed).killedBy, SIGKILL);
        QCOMPARE(server.Query("SELECT value, port, station, outcome IS NULL, issued_at IS NOT NULL "
                              "FROM morven.issued"),
                 (QList<QStringList>{{"1", line.Pty(0), "station_a", "t", "t"}}));
    }

    // A database that accepts the connection and never answers holds the station no longer than
    // the operator wants: a signal ends the wait, and nothing is sent.
    void signalEndsAWaitForTheDatabase() {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        QSignalSpy connected(&silent, &QTcpServer::newConnection);
        Line line(1);
        QProcess waiting;
        StartCli(waiting,
                 line.Write(Counter(
                     QString("postgresql://127.0.0.1:%1/morven").arg(silent.serverPort()))));
        QVERIFY(connected.wait(10000));
        ::kill(pid_t(waiting.processId()), SIGINT);
        const CliRun run = Finish(waiting, 5000);
        QVERIFY2(run.killedBy == SIGINT, run.err);
        QVERIFY(line.boards[0]->HostBytes().isEmpty());
    }

    // A name server that never answers holds a connect no longer than its limit, and a signal
    // ends the lookup at once. The station runs in a mount namespace of its own whose
    // resolv.conf names a silent server on 127.0.0.1 (as root: CI).
    void hostNameLookupBounded_data() {
        QTest::addColumn<bool>("interrupt");
        QTest::newRow("the connect limit") << false;
        QTest::newRow("SIGINT") << true;
    }

    void hostNameLookupBounded() {
        QFETCH(bool, interrupt);
        if (::geteuid() != 0 || QStandardPaths::findExecutable("unshare").isEmpty())
            QSKIP("needs root and unshare for a private resolv.conf");
        QUdpSocket silent;
        QVERIFY2(silent.bind(QHostAddress::LocalHost, 53), qPrintable(silent.errorString()));
        QSignalSpy asked(&silent, &QUdpSocket::readyRead);
        QTemporaryFile resolvConf;
        QVERIFY(resolvConf.open());
        resolvConf.write("nameserver 127.0.0.1\noptions timeout:30 attempts:3\n");
        resolvConf.flush();
        Line line(1);
        QProcess waiting;
        waiting.start("unshare",
                      QStringList{"--mount", "sh", "-c",
                                  "mount --bind \"$0\" /etc/resolv.conf && exec \"$@\"",
                                  resolvConf.fileName(), MORVEN_CLI} +
                          line.Write(Counter("postgresql://station_a@line-db.example/morven")));
        QVERIFY(asked.wait(10000));
        if (interrupt) ::kill(pid_t(waiting.processId()), SIGINT);
        const CliRun run = Finish(waiting, interrupt ? 5000 : 20000);
        if (interrupt) {
            QVERIFY2(run.killedBy == SIGINT, run.err);
        } else {
            QCOMPARE(run.status, 14);
            QVERIFY2(run.err.contains("no answer within 10 s while looking up line-db.example"),
                     run.err);
        }
        QVERIFY(line.boards[0]->HostBytes().isEmpty());
    }

    // A station's role writes only through the line's functions, and only its own rows; it
    // passes no step, first value or largest, starts no counter, reads no list and writes a
    // row's end once, with an outcome.
    void stationTouchesOnlyItsOwnRows_data() {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("refused");  // empty: allowed
        const QString record =
            "SELECT morven.record_write('counter counter', '1', 'O.K.', 0, 1, '', now())";
        const QString oldTake = "SELECT morven.take_counter('counter', 'rule', 1, %1, 100, "
                                "'{port}', 'recipe', NULL, 'host', 'user')";
        const QString take = "SELECT morven.take_counter('%1', 'rule', '{port}', 'recipe', "
                             "NULL, 'host', 'user')";
        QTest::newRow("its own row") << "station_a" << record << "";
        QTest::newRow("another's row")
            << "station_b" << record << "belongs to the station station_a";
        QTest::newRow("delete") << "station_b"
                                << "DELETE FROM morven.issued"
                                << "permission denied";
        QTest::newRow("rewrite") << "station_b"
                                 << "UPDATE morven.issued SET outcome = 'O.K.'"
                                 << "permission denied";
        QTest::newRow("insert") << "station_b"
                                << "INSERT INTO morven.issued (source, value, port, recipe, "
                                   "host, os_user) VALUES ('counter counter', '9', 'p', 'r', "
                                   "'h', 'u')"
                                << "permission denied";
        QTest::newRow("move the counter back") << "station_b"
                                               << "UPDATE morven.counter SET next = 1"
                                               << "permission denied";
        QTest::newRow("load a list") << "station_b"
                                     << "SELECT morven.load_list('x', '{a}')"
                                     << "permission denied";
        QTest::newRow("wrong step") << "station_a" << oldTake.arg("2.0") << "does not exist";
        QTest::newRow("huge step") << "station_a" << oldTake.arg("1000") << "does not exist";
        QTest::newRow("make a counter") << "station_a"
                                        << "SELECT morven.make_counter('mine', 'rule', 1, 1, 9)"
                                        << "permission denied";
        QTest::newRow("first take of a missing counter")
            << "station_a" << take.arg("Counter") << "no counter Counter is made";
        QTest::newRow("a take of no port")
            << "station_a" << take.arg("counter").replace("'{port}'", "'{}'")
            << "a take names one port or more";
        QTest::newRow("an end without an outcome")
            << "station_a"
            << "SELECT morven.record_write('counter counter', '1', NULL, 0, 1, '', now())"
            << "needs its outcome";
        QTest::newRow("an end written twice")
            << "station_a"
            << record + "; SELECT morven.record_write('counter counter', '1', 'Err 1', 3, 1, "
                        "'', now())"
            << "already holds the outcome \"O.K.\"";
        QTest::newRow("the same end twice")
            << "station_a" << record + "; " + record << "holds this end already";
        QTest::newRow("read a list's values") << "station_a"
                                              << "SELECT * FROM morven.list_value"
                                              << "permission denied";
        QTest::newRow("read the issue log") << "station_a"
                                            << "SELECT * FROM morven.issued"
                                            << "permission denied";
        QTest::newRow("spoofed station name")
            << "station_b" << "SET ROLE station_a; " + take.arg("counter")
            << "permission denied to set role";
    }

    void stationTouchesOnlyItsOwnRows() {
        QFETCH(QString, role);
        QFETCH(QString, sql);
        QFETCH(QString, refused);
        PostgresServer server(Stations);
        server.Query("SELECT morven.make_counter('counter', 'rule', 1, 1, 100)", "lead");
        server.Query("SELECT morven.take_counter('counter', 'rule', '{port}', 'recipe', NULL, "
                     "'host', 'user')",
                     "station_a");
        const QString before = "SELECT station, value, outcome FROM morven.issued";
        const QList<QStringList> rows = server.Query(before);
        QCOMPARE(rows, (QList<QStringList>{{"station_a", "1", ""}}));
        QString error;
        server.Query(sql, role, &error);
        if (refused.isEmpty()) {
            QVERIFY2(error.isEmpty(), qPrintable(error));
            return;
        }
        QVERIFY2(error.contains(refused), qPrintable(error));
        QCOMPARE(server.Query(before), rows);
        QCOMPARE(server.Query("SELECT next FROM morven.counter"), QList<QStringList>{{"2"}});
    }

    // The schema belongs to a role nobody logs in as, and what a station sees of the server is
    // the server's: its login role and its address.
    void schemaOwnedByItsOwnRole() {
        PostgresServer server(Stations);
        QCOMPARE(server.Query("SELECT DISTINCT pg_get_userbyid(proowner) FROM pg_proc WHERE "
                              "pronamespace = 'morven'::regnamespace UNION SELECT DISTINCT "
                              "tableowner FROM pg_tables WHERE schemaname = 'morven'"),
                 QList<QStringList>{{"morven_owner"}});
        QCOMPARE(server.Query("SELECT rolcanlogin, rolsuper FROM pg_roles WHERE rolname = "
                              "'morven_owner'"),
                 (QList<QStringList>{{"f", "f"}}));
        QCOMPARE(server.Query("SELECT count(*) FROM pg_proc WHERE pronamespace = "
                              "'morven'::regnamespace AND prosecdef AND NOT ('search_path=morven, "
                              "pg_temp' = ANY (proconfig))"),
                 QList<QStringList>{{"0"}});
    }

    // A row's end the database could not take, for whatever reason (here the issue log locked
    // by maintenance), waits in the pending rows; the next run sends it.
    void rowEndKeptWhenTheLogIsLocked() {
        PostgresServer server(Stations);
        MakeCounter(server);
        server.Query("ALTER ROLE station_a SET lock_timeout = '200ms'");
        Line line(1, {"block:1=delay:1500"});
        const QStringList write = line.Write(Counter(server.Uri("station_a")));
        QProcess first;
        StartCli(first, Loud(write));
        WaitForImageStage(first);
        QProcess maintenance;
        server.HoldLock(maintenance, "LOCK TABLE morven.issued", "issued", "AccessExclusiveLock");
        const CliRun locked = Finish(first);
        QCOMPARE(locked.status, 0);
        QVERIFY2(locked.err.contains("lock timeout") && locked.err.contains("for the next run"),
                 locked.err);
        server.Query("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                     "query LIKE '%LOCK TABLE%' AND pid <> pg_backend_pid()");
        maintenance.waitForFinished();

        const CliRun next = Cli(write);
        QCOMPARE(next.status, 0);
        QVERIFY2(next.err.contains("rows of 1 earlier writes updated"), next.err);
        QCOMPARE(server.Query("SELECT value, outcome FROM morven.issued ORDER BY value::int"),
                 (QList<QStringList>{{"1", "O.K."}, {"2", "O.K."}}));
    }
};

QTEST_GUILESS_MAIN(TestLineDatabase)
#include "tst_linedatabase.moc"
