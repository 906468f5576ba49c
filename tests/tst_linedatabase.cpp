// A line of stations on one PostgreSQL database: one number space, one issue log, and nothing
// lost when the database goes away.
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>
#include <csignal>

#include "PostgresServer.h"
#include "ProductionLine.h"

namespace {

const QStringList Stations{"station_a", "station_b"};
const QByteArray Macs =
    "00:1A:2B:00:00:01\n00:1A:2B:00:00:02\n00:1A:2B:00:00:03\n"
    "00:1A:2B:00:00:04\n00:1A:2B:00:00:05\n";

QStringList Counter(const QString& uri) { return {"--serial-at", "0x3000", "--serial-state", uri}; }

QStringList List(const QString& uri, const QString& file) {
    return {"--serial-at",   "0x3000", "--serial-format", "bytes:6",
            "--serial-list", file,     "--serial-state",  uri};
}

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

    // What cannot give values is refused before any port opens, takes nothing, and says why.
    void refusedBeforeAnyPortOpens_data() {
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("server stopped") << "stopped" << 14 << "cannot be reached";
        QTest::newRow("another rule") << "rule" << 11 << "was started with the rule";
        QTest::newRow("counter run out") << "le:1" << 11 << "has run out: 1 of the 2 values";
        QTest::newRow("no list loaded") << "list" << 11 << "no list macs.txt is loaded";
        QTest::newRow("password in the URI") << "password" << 2 << "no password in the URI";
    }

    void refusedBeforeAnyPortOpens() {
        QFETCH(QString, refusal);
        QFETCH(int, status);
        QFETCH(QString, says);
        PostgresServer server(Stations);
        Line line(2);
        QString uri = server.Uri("station_a");
        QStringList serial = Counter(uri);
        if (refusal == "rule") {
            QCOMPARE(Cli(line.Write(serial, 0, 1)).status, 0);
            line.boards[0]->Board().ClearWireLog();
            serial << "--serial-start"
                   << "100";
        }
        if (refusal == "le:1")
            serial << "--serial-format"
                   << "le:1"
                   << "--serial-start"
                   << "255";
        if (refusal == "list") serial = List(uri, line.Path("macs.txt"));
        if (refusal == "password")
            serial.replaceInStrings("postgresql://", "postgresql://station_a:secret@");
        if (refusal == "stopped") server.Stop();
        const QString taken = refusal == "stopped"
                                  ? QString()
                                  : server.Query("SELECT count(*) FROM morven.issued")[0][0];
        const CliRun run = Cli(line.Write(serial, 0, 2));
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(says.toUtf8()), run.err);
        QVERIFY2(!run.err.contains("secret"), run.err);
        if (refusal == "stopped") QVERIFY2(run.err.contains(server.Folder().toUtf8()), run.err);
        for (const auto& board : line.boards) QVERIFY(board->HostBytes().isEmpty());
        if (refusal != "stopped")
            QCOMPARE(server.Query("SELECT count(*) FROM morven.issued")[0][0], taken);
    }

    // A database that goes away during a write: the write goes on, its record says the row was
    // not updated and keeps it; the next run updates the row from it.
    void databaseGoneMidWrite() {
        PostgresServer server(Stations);
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

    // A station's role writes only through the line's functions, and only its own rows.
    void stationTouchesOnlyItsOwnRows_data() {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("refused");  // empty: allowed
        const QString record =
            "SELECT morven.record_write('counter counter', '1', 'O.K.', 0, 1, '', now())";
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
    }

    void stationTouchesOnlyItsOwnRows() {
        QFETCH(QString, role);
        QFETCH(QString, sql);
        QFETCH(QString, refused);
        PostgresServer server(Stations);
        server.Query(
            "SELECT morven.take_counter('counter', 'rule', 1, 1, 100, '{port}', "
            "'recipe', NULL, 'host', 'user')",
            "station_a");
        const QString before = "SELECT station, value, outcome FROM morven.issued";
        const QList<QStringList> rows = server.Query(before);
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
};

QTEST_GUILESS_MAIN(TestLineDatabase)
#include "tst_linedatabase.moc"
