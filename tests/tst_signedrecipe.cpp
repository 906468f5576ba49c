// Recipes released by a signature: a station with allowed signers writes only recipes signed by
// one of them, and names the signer on every record. Run by private_etc_morven.sh, with an
// /etc/morven of its own; keys come from ssh-keygen in a temporary folder.
#include <linux/magic.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <QApplication>
#include <QProcess>
#include <QSignalSpy>

#include "PostgresServer.h"
#include "ProductionLine.h"
#include "StationWindow.h"

using morven::StationWindow;

namespace {

const QString AllowedSigners = QStringLiteral("/etc/morven/allowed_signers");
const QString Signer = QStringLiteral("release@line.example");

void Run(const QString& program, const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(10000));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError());
}

// A release key and a key nobody listed, made now.
struct Keys {
    Keys() {
        for (const QString& name : {QStringLiteral("release"), QStringLiteral("stranger")})
            Run("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-C", name, "-f", Path(name)});
    }
    QString Path(const QString& name) const { return folder.filePath(name); }
    QByteArray Public(const QString& name) const { return Contents(Path(name) + ".pub").trimmed(); }
    // The recipe's .sig beside it, as a release engineer makes it.
    void Sign(const QString& recipe, const QString& key, const QString& use) const {
        QFile::remove(recipe + ".sig");
        Run("ssh-keygen", {"-q", "-Y", "sign", "-f", Path(key), "-n", use, recipe});
    }
    QTemporaryDir folder;
};

// The station's allowed signers: none (no file), the release key, that key expired, or the
// key in a file others may write.
void ListSigners(const Keys& keys, const QString& how) {
    QFile::remove(AllowedSigners);
    if (how.isEmpty()) return;
    const QByteArray validity = how == "expired" ? "valid-before=\"20200101\" " : "";
    SimulatedWrite::WriteFile(AllowedSigners,
                              Signer.toUtf8() + " " + validity + keys.Public("release") + "\n");
    if (how == "writable")
        QFile::setPermissions(AllowedSigners, QFile::permissions(AllowedSigners) |
                                                  QFileDevice::WriteGroup |
                                                  QFileDevice::WriteOther);
}

// A recipe in the first board's folder approving its image and kernel, with a counter whose
// state is a file beside it, or the line's database.
QString WriteRecipe(const Line& line, const QString& state = "counter") {
    const QString path = line.Path("station.ini");
    SimulatedWrite::WriteFile(
        path, "[image]\nfile = program.mot\nsha256 = " + Sha256(line.image) +
                  "\n[kernel]\nfile = zididuv.bin\nsha256 = " + Sha256(line.kernel) +
                  "\n[station]\nports = " + line.Pty(0).toUtf8() +
                  "\nstrict = false\nlog = writes.jsonl\n[serial]\naddress = 0x5F000\n"
                  "format = be:2\nstart = 1\nstate = " + state.toUtf8() + "\n");
    return path;
}

// The recipe signed as the row says: "" not at all, "release", "stranger", "release, for git",
// "release, then edited".
void SignAsTold(const Keys& keys, const QString& recipe, const QString& how) {
    if (how.isEmpty()) return;
    keys.Sign(recipe, how.section(',', 0, 0), how.endsWith("for git") ? "git" : "morven-recipe");
    // A change that alone would write as before.
    if (how.endsWith("then edited"))
        SimulatedWrite::WriteFile(recipe, Contents(recipe) + "# approved\n");
}

// The journal's socket in this namespace's own /run, bound as journald binds it.
struct Journal {
    Journal() {
        ::unlink(Path);
        socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, Path);
        if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            qFatal("cannot bind %s", Path);
    }
    ~Journal() {
        ::close(socket);
        ::unlink(Path);
    }
    // The next entry's fields (KEY=VALUE lines), waiting a while for it.
    QMap<QByteArray, QByteArray> Next() const {
        QMap<QByteArray, QByteArray> fields;
        pollfd ready{socket, POLLIN, 0};
        if (::poll(&ready, 1, 10000) != 1) return fields;
        QByteArray entry(1 << 16, '\0');
        entry.resize(qMax<qsizetype>(0, ::recv(socket, entry.data(), size_t(entry.size()), 0)));
        for (const QByteArray& line : entry.split('\n'))
            if (const qsizetype at = line.indexOf('='); at > 0)
                fields.insert(line.left(at), line.mid(at + 1));
        return fields;
    }
    static constexpr char Path[] = "/run/systemd/journal/socket";
    int socket = -1;
};

}  // namespace

class TestSignedRecipe : public QObject {
    Q_OBJECT

private slots:
    // Never the machine's own /etc: only an /etc/morven private to this run.
    void initTestCase() {
        struct statfs folder {};
        QVERIFY2(::statfs("/etc/morven", &folder) == 0 && folder.f_type == TMPFS_MAGIC,
                 "run through tests/private_etc_morven.sh");
    }

    // With allowed signers, only a good signature of a listed principal, in the recipe's
    // namespace, on the recipe as it stands, writes; anything else is refused before a port
    // opens or a value is taken, naming the recipe and why. Without them, recipes write as
    // before, said to be unchecked.
    void signatures_data() {
        QTest::addColumn<QString>("listed");  // allowed signers: none, "key", "expired", …
        QTest::addColumn<QString>("signature");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("no allowed signers, unsigned")
            << QString() << QString() << 0 << "signature: not checked for a signature";
        QTest::newRow("unsigned") << "key" << QString() << 11 << "it is not signed (no ";
        QTest::newRow("an unlisted key")
            << "key" << "stranger" << 11
            << "it is signed by a key that /etc/morven/allowed_signers does not list";
        QTest::newRow("another namespace")
            << "key" << "release, for git" << 11
            << "it is signed for another use, not for the namespace morven-recipe";
        QTest::newRow("edited after signing")
            << "key" << "release, then edited" << 11 << "it was changed after it was signed";
        QTest::newRow("an expired principal")
            << "expired" << "release" << 11 << "its signer's key in /etc/morven/allowed_signers";
        QTest::newRow("allowed signers others may write")
            << "writable" << "release" << 11
            << "the station's /etc/morven/allowed_signers is not a file of root's";
        QTest::newRow("a good signature") << "key" << "release" << 0 << "signature: " + Signer;
    }

    void signatures() {
        QFETCH(QString, listed);
        QFETCH(QString, signature);
        QFETCH(int, status);
        QFETCH(QString, says);
        Keys keys;
        Line line(1);
        ListSigners(keys, listed);
        const QString recipe = WriteRecipe(line);
        SignAsTold(keys, recipe, signature);
        const Journal journal;
        const CliRun check = Cli({"--check", "--recipe", recipe});
        const CliRun run = Cli({"--quiet", "--recipe", recipe});
        QCOMPARE(check.status, status);
        QCOMPARE(run.status, status);
        const QString signer = listed.isEmpty() ? QString() : Signer;
        if (status != 0) {
            QVERIFY2(check.out.contains("signature: refused: " + says.toUtf8()), check.out);
            QVERIFY2(run.err.contains("The recipe " + recipe.toUtf8() +
                                      " is not released: " + says.toUtf8()),
                     run.err);
            QVERIFY(line.boards[0]->HostBytes().isEmpty());
            QVERIFY(!QFile::exists(line.Path("counter")));
            QVERIFY(LogLines(line.Path("writes.jsonl")).isEmpty());
            return;
        }
        QVERIFY2(check.out.contains(says.toUtf8()), check.out);
        const QList<QJsonObject> records = LogLines(line.Path("writes.jsonl"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0]["outcome"].toString(), "O.K.");
        QCOMPARE(records[0]["recipe_signer"].toString(), signer);
        const QList<QJsonObject> issued = LogLines(line.Path("counter.issued"));
        QCOMPARE(issued.size(), 1);
        QCOMPARE(issued[0]["recipe_signer"].toString(), signer);
        const auto fields = journal.Next();
        QCOMPARE(fields.value("MORVEN_OUTCOME"), "O.K.");
        QCOMPARE(fields.value("MORVEN_RECIPE_SIGNER"), signer.toUtf8());
    }

    // The station's window names the signer in its header; a recipe it refuses is named in the
    // banner, Start stays disabled, and nothing is sent.
    void window_data() {
        QTest::addColumn<QString>("signature");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("banner");  // empty: none
        QTest::newRow("unsigned") << ""
                                  << "refused: it is not signed"
                                  << "it is not signed";
        QTest::newRow("a good signature") << "release" << Signer + " (a good signature"
                                          << "";
    }

    void window() {
        QFETCH(QString, signature);
        QFETCH(QString, header);
        QFETCH(QString, banner);
        Keys keys;
        Line line(1);
        ListSigners(keys, "key");
        const QString recipe = WriteRecipe(line);
        SignAsTold(keys, recipe, signature);
        StationWindow window;
        QVERIFY(window.Load(recipe));
        window.show();
        QVERIFY2(window.SignerText->text().startsWith(header),
                 qPrintable(window.SignerText->text()));
        QCOMPARE(window.Banner->isVisible(), !banner.isEmpty());
        QCOMPARE(window.Start->isEnabled(), banner.isEmpty());
        if (banner.isEmpty()) return;
        QVERIFY2(
            window.Banner->text().contains("The recipe " + recipe + " is not released: " + banner),
            qPrintable(window.Banner->text()));
        QTest::keyClick(&window, Qt::Key_F5);
        QCoreApplication::processEvents();
        QVERIFY(line.boards[0]->HostBytes().isEmpty());
        QVERIFY(!QFile::exists(line.Path("counter")));
    }

    // The line database's row of every value names the signer as well.
    void signerInTheLineDatabase() {
        PostgresServer server({"station_a"});
        server.MakeCounter({"--serial-at", "0x5F000", "--serial-format", "be:2", "--serial-start",
                            "1"},
                           "board");
        Keys keys;
        Line line(1);
        ListSigners(keys, "key");
        const QString recipe = WriteRecipe(line, server.Uri("station_a", "board"));
        SignAsTold(keys, recipe, "release");
        const CliRun run = Cli({"--quiet", "--recipe", recipe});
        QVERIFY2(run.status == 0, run.err);
        QCOMPARE(server.Query("SELECT recipe_signer, outcome FROM morven.issued"),
                 (QList<QStringList>{{Signer, "O.K."}}));
    }

    // A key removed from the allowed signers while the window is open stops the next gang.
    void revokedWhileTheWindowIsOpen() {
        Keys keys;
        Line line(1);
        ListSigners(keys, "key");
        const QString recipe = WriteRecipe(line);
        SignAsTold(keys, recipe, "release");
        StationWindow window;
        QVERIFY(window.Load(recipe));
        window.show();
        QVERIFY(window.Start->isEnabled());
        SimulatedWrite::WriteFile(AllowedSigners, Signer.toUtf8() + " " + keys.Public("stranger"));
        QSignalSpy ended(&window, &StationWindow::GangEnded);
        window.Start->click();
        QTRY_VERIFY(window.Banner->isVisible());
        QVERIFY2(window.Banner->text().contains("does not list"),
                 qPrintable(window.Banner->text()));
        QVERIFY(!window.Start->isEnabled());
        QVERIFY(line.boards[0]->HostBytes().isEmpty());
        QCOMPARE(ended.count(), 0);
    }
};

QTEST_MAIN(TestSignedRecipe)
#include "tst_signedrecipe.moc"
