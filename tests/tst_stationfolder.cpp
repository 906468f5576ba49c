// A recipe's unit-number state in the station's folder, /var/lib/morven, named by its rule: whoever
// runs the rule, from whichever copy of the recipe, goes on with one counter. Run by
// in_station_folder.sh, in a mount namespace whose /var/lib is a tmpfs of its own.
#include <QDir>
#include <QRegularExpression>
#include <optional>

#include <linux/magic.h>
#include <sys/vfs.h>

#include "ProductionLine.h"

namespace {

const QString Folder = "/var/lib/morven";

// A recipe naming every file by its absolute path, so that it may stand in any folder.
QByteArray RecipeText(const Line& line, const QByteArray& serial) {
    return "[image]\nfile = " + line.boards[0]->sRecordPath.toUtf8() + "\nsha256 = " +
           Sha256(line.image) + "\n[kernel]\nfile = " + line.boards[0]->kernelPath.toUtf8() +
           "\nsha256 = " + Sha256(line.kernel) + "\n[station]\nports = " + line.Pty(0).toUtf8() +
           "\nstrict = false\nlog = " + line.Path("writes.jsonl").toUtf8() + "\n[serial]\n" +
           serial;
}

// A run as a user of its own (a home of its own, no XDG_STATE_HOME).
CliRun RunAs(const Line& line, const QString& user, const QStringList& arguments) {
    QDir().mkpath(line.Path(user));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", line.Path(user));
    environment.remove("XDG_STATE_HOME");
    QProcess run;
    run.setProcessEnvironment(environment);
    StartCli(run, arguments);
    return Finish(run);
}

// A folder made read-only for everyone, root too, until this ends.
struct ReadOnlyFolder {
    explicit ReadOnlyFolder(const QString& folder) : path(folder) {
        mounted = QProcess::execute("mount", {"--bind", path, path}) == 0 &&
                  QProcess::execute("mount", {"-o", "remount,bind,ro", path}) == 0;
    }
    ~ReadOnlyFolder() { QProcess::execute("umount", {path}); }
    QString path;
    bool mounted = false;
};

}  // namespace

class TestStationFolder : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        struct statfs folder {};
        QVERIFY2(::statfs(qPrintable(Folder), &folder) == 0 && folder.f_type == TMPFS_MAGIC,
                 "run by tests/in_station_folder.sh: this /var/lib/morven is the machine's own");
    }

    void cleanup() {
        for (const QFileInfo& file : QDir(Folder).entryInfoList(QDir::Files | QDir::Hidden))
            QFile::remove(file.filePath());
    }

    // The second run, by another user or from another copy of the recipe with the same rule,
    // goes on after the first: the copy may stand in a read-only folder, since nothing is
    // written beside it.
    void copiesOfARecipeGoOn_data() {
        QTest::addColumn<QString>("second");  // the second run's recipe, in the line's folder
        QTest::addColumn<bool>("readOnly");   // its folder read-only
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QStringList>("values");
        const QByteArray counter = "address = 0x5FF00\nformat = dec:8\nstart = 10000001\n";
        const QString counterState = "counter-0x5FF00-dec8-10000001-step1.serial-state";
        const QStringList numbers{"10000001", "10000002"};
        QTest::newRow("another user") << "station-3.ini" << false << counter << counterState << numbers;
        QTest::newRow("a renamed copy") << "station-3-r2.ini" << false << counter << counterState << numbers;
        QTest::newRow("a copy in a read-only folder")
            << "r2/station-3.ini" << true << counter << counterState << numbers;
        QTest::newRow("a list's recipe copied")
            << "r2/station-3.ini" << true
            << QByteArray("address = 0x5F000\nformat = bytes:6\nlist = macs.txt\n")
            << "list-macs.txt.serial-state"
            << QStringList{"00:1A:2B:00:00:01", "00:1A:2B:00:00:02"};
    }

    void copiesOfARecipeGoOn() {
        QFETCH(QString, second);
        QFETCH(bool, readOnly);
        QFETCH(QByteArray, serial);
        QFETCH(QString, state);
        QFETCH(QStringList, values);
        Line line(1);
        SimulatedWrite::WriteFile(line.Path("macs.txt"), "00:1A:2B:00:00:01\n00:1A:2B:00:00:02\n");
        serial.replace("macs.txt", line.Path("macs.txt").toUtf8());
        const QString first = line.Path("station-3.ini");
        SimulatedWrite::WriteFile(first, RecipeText(line, serial));
        QDir().mkpath(QFileInfo(line.Path(second)).absolutePath());
        if (!QFile::exists(line.Path(second)))
            SimulatedWrite::WriteFile(line.Path(second), RecipeText(line, serial));
        QCOMPARE(RunAs(line, "alice", {"--quiet", "--recipe", first}).status, 0);
        std::optional<ReadOnlyFolder> locked;
        if (readOnly) {
            locked.emplace(QFileInfo(line.Path(second)).absolutePath());
            QVERIFY(locked->mounted);
        }
        const CliRun run = RunAs(line, "bob", {"--quiet", "--recipe", line.Path(second)});
        QVERIFY2(run.status == 0, run.err);
        QCOMPARE(SerialValues(line.Path("writes.jsonl")), values);
        const QList<QJsonObject> issued = LogLines(Folder + "/" + state + ".issued");
        QCOMPARE(issued.size(), 2);
        QCOMPARE(issued[1]["recipe"].toString(), line.Path(second));
        QCOMPARE(issued[1]["recipe_sha256"].toString().toLatin1(), Sha256(Contents(line.Path(second))));
        QVERIFY(QFile::exists(Folder + "/" + state));
        // Every operator of the station appends to it, whatever the umask of its first.
        QVERIFY(QFileInfo(Folder + "/" + state + ".issued").permissions() & QFile::WriteGroup);
    }

    // The state the previous release kept beside the recipe is refused while it stands there
    // and none in the station's folder, naming both; moved as the refusal says, it goes on; one
    // of another copy that went further is refused too.
    void previousReleasesStateIsMoved() {
        Line line(1);
        const QString recipe = line.Path("station-3.ini");
        SimulatedWrite::WriteFile(
            recipe, RecipeText(line, "address = 0x5FF00\nformat = dec:8\nstart = 10000001\n"));
        const QString old = line.Path("station-3.serial-state");
        const QString now = Folder + "/counter-0x5FF00-dec8-10000001-step1.serial-state";
        const auto oldState = [](const QByteArray& next) {
            return "address 0x5ff00\nformat dec:8\nstart 10000001\nstep 1\nnext " + next + "\nend\n";
        };
        SimulatedWrite::WriteFile(old, oldState("10000005"));
        SimulatedWrite::WriteFile(old + ".issued", "{\"value\":\"10000004\"}\n");
        SimulatedWrite::WriteFile(old + ".lock", "");
        for (const QStringList& arguments :
             {QStringList{"--check", "--recipe", recipe}, QStringList{"--quiet", "--recipe", recipe}}) {
            const CliRun run = Cli(arguments);
            QCOMPARE(run.status, 11);
            QVERIFY2((run.out + run.err).contains(now.toUtf8() + " does not exist, and the previous release's state of this recipe, " + old.toUtf8()),
                     run.out + run.err);
        }
        QVERIFY(line.boards[0]->HostBytes().isEmpty());
        const QString move = QString::fromUtf8(Cli({"--recipe", recipe}).err);
        const QRegularExpressionMatch command = QRegularExpression("\\((mv [^)]*)\\)").match(move);
        QVERIFY2(command.hasMatch(), qPrintable(move));
        QCOMPARE(QProcess::execute("sh", {"-ec", command.captured(1)}), 0);
        QCOMPARE(Cli({"--quiet", "--recipe", recipe}).status, 0);
        QCOMPARE(SerialValues(line.Path("writes.jsonl")), QStringList{"10000005"});
        QCOMPARE(LogLines(now + ".issued").size(), 2);

        // A second copy's state of the previous release that went further is refused, never
        // passed over: the values between would go out twice.
        const QString copy = line.Path("b/station-3.ini");
        QVERIFY(QDir().mkpath(line.Path("b")));
        SimulatedWrite::WriteFile(copy, Contents(recipe));
        SimulatedWrite::WriteFile(line.Path("b/station-3.serial-state"), oldState("10000100"));
        const CliRun ahead = Cli({"--quiet", "--recipe", copy});
        QCOMPARE(ahead.status, 11);
        QVERIFY2(ahead.err.contains("(next value 10000100), went further than the rule's state " +
                                    now.toUtf8() + " (next value 10000006)"),
                 ahead.err);
    }

    // Without the station's folder (no package), a recipe's state is refused, not made with
    // whatever owner and mode: the package makes the folder.
    void noStationFolderRefused() {
        Line line(1);
        const QString recipe = line.Path("station-3.ini");
        SimulatedWrite::WriteFile(
            recipe, RecipeText(line, "address = 0x5FF00\nformat = dec:8\nstart = 10000001\n"));
        QVERIFY(QDir().rmdir(Folder));
        const CliRun check = Cli({"--check", "--recipe", recipe});
        const CliRun run = Cli({"--quiet", "--recipe", recipe});
        QVERIFY(QDir().mkdir(Folder));
        QCOMPARE(check.status, 11);
        QCOMPARE(run.status, 11);
        QVERIFY2(run.err.contains("/var/lib/morven, does not exist: the package makes it"), run.err);
        QVERIFY(line.boards[0]->HostBytes().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestStationFolder)
#include "tst_stationfolder.moc"
