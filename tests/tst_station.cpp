// The station's window, real widgets under the offscreen platform, writing board-sim boards on
// ptys; its questions answered by script.
#include <QAccessible>
#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <csignal>
#include <optional>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

#include "CliRun.h"
#include "OperatorDialogs.h"
#include "PostgresServer.h"
#include "StationWindow.h"
#include "Translations.h"

using morven::OperatorDialogs;
using morven::PortTile;
using morven::StationWindow;
using State = PortTile::State;

namespace {

QByteArray Sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

constexpr int SerialAt = 0x3000;

// Boards on their own ptys with a recipe that approves their file and kernel, and gives each
// board a unit number (dec:8 at 0x3000, from 10000001). An empty fault is a sound board;
// "absent" names a port with no device.
struct Station {
    explicit Station(const QStringList& faults) {
        for (const QString& fault : faults)
            if (fault != "absent")
                boards.push_back(std::make_unique<SimulatedWrite>(Faults(fault)));
        image = RandomImage(0x2000, 26);
        kernel = QByteArray(64, '\x5A');
        boards[0]->SetSRecords(SRecordsFor(image));
        boards[0]->SetKernel(kernel);
        int board = 0;
        for (const QString& fault : faults)
            ports << (fault == "absent" ? QString("/nonexistent/ttyUSB9") : Pty(board++));
        settings = {{"image/sha256", Sha256(image)}, {"kernel/sha256", Sha256(kernel)},
                    {"station/ports", ports.join(", ").toUtf8()}, {"station/strict", "false"},
                    {"serial/address", "0x3000"}, {"serial/state", "counter"}};
    }
    QString Path(const QString& name) const { return boards[0]->FilePath(name); }
    QString Pty(int i) const { return QString::fromStdString(boards[i]->Board().SlavePath()); }

    // The recipe, with these settings changed ("section/key" = value).
    QString Recipe(const QMap<QString, QByteArray>& changes = {}) {
        QMap<QString, QByteArray> all = settings;
        all.insert(changes);
        QByteArray text = "[image]\nfile = program.mot\n[kernel]\nfile = zididuv.bin\n"
                          "[station]\nlog = writes.jsonl\n[serial]\nformat = dec:8\n"
                          "start = 10000001\n";
        for (auto [key, value] : all.asKeyValueRange()) {
            const QByteArray section = "[" + key.section('/', 0, 0).toUtf8() + "]\n";
            text.insert(text.indexOf(section) + section.size(),
                        key.section('/', 1).toUtf8() + " = " + value + "\n");
        }
        SimulatedWrite::WriteFile(Path("station.ini"), text);
        return Path("station.ini");
    }
    QByteArray Expected(quint64 value) const {
        return image + QByteArray(SerialAt - image.size(), '\xFF') + QByteArray::number(value);
    }
    QList<QJsonObject> Records() const { return LogLines(Path("writes.jsonl")); }

    std::vector<std::unique_ptr<SimulatedWrite>> boards;
    QByteArray image, kernel;
    QStringList ports;
    QMap<QString, QByteArray> settings;
};

void Press(Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); }

// The stations' unit-number rule as the line's lead gives it when it makes their counter.
const QStringList StationRule{"--serial-at", "0x3000", "--serial-format", "dec:8",
                              "--serial-start", "10000001"};

// The window's gang, started by F5: every board ended and on record.
bool Gang(StationWindow& window) {
    QSignalSpy ended(&window, &StationWindow::GangEnded);
    Press(Qt::Key_F5);
    return ended.wait(20000);
}

QList<State> States(const StationWindow& window) {
    QList<State> states;
    for (const PortTile* tile : window.Tiles) states << tile->CurrentState();
    return states;
}

// Every accessibility event the widgets send, as a screen reader's bridge would get it.
QList<QPair<QObject*, QAccessible::Event>> accessibilityEvents;
void RecordAccessibility(QAccessibleEvent* event) {
    accessibilityEvents << qMakePair(event->object(), event->type());
}

}  // namespace

class TestStation : public QObject {
    Q_OBJECT

    OperatorDialogs::Script script_;

    // The window with the recipe, shown and active, Start with the focus.
    static std::unique_ptr<StationWindow> Open(const QString& recipe) {
        auto window = std::make_unique<StationWindow>();
        if (!window->Load(recipe)) return nullptr;
        window->show();
        if (!QTest::qWaitForWindowActive(window.get())) return nullptr;
        return window;
    }

private slots:
    // As the program does: the words follow the locale (CTest runs this suite under C.UTF-8,
    // and the language test once more under ja_JP.UTF-8).
    void initTestCase() { common::LoadTranslations(QStringLiteral("morven")); }

    void init() {
        script_ = {};
        OperatorDialogs::UseScript(&script_);
    }

    // One key writes every present board, each bit-exact with its own value and on record; a
    // failing board is shown on its tile while the others finish, and an absent port is skipped.
    void gangFromTheKeyboard_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QList<State>>("states");
        QTest::addColumn<QString>("totals");
        const QList<State> fourPassed(4, State::Passed);
        QTest::newRow("F5, four boards") << int(Qt::Key_F5) << QStringList(4, "") << fourPassed
                                         << "Passed 4    Failed 0    Yield 100.0 %";
        QTest::newRow("Enter, four boards") << int(Qt::Key_Return) << QStringList(4, "")
                                            << fourPassed << "Passed 4    Failed 0    Yield 100.0 %";
        QTest::newRow("one board failing")
            << int(Qt::Key_Enter) << QStringList{"", "closing=wrong:0x15", "", ""}
            << QList<State>{State::Passed, State::Failed, State::Passed, State::Passed}
            << "Passed 3    Failed 1    Yield 75.0 %";
        QTest::newRow("an absent port")
            << int(Qt::Key_F5) << QStringList{"", "absent", ""}
            << QList<State>{State::Passed, State::Absent, State::Passed}
            << "Passed 2    Failed 0    Yield 100.0 %";
    }

    void gangFromTheKeyboard() {
        QFETCH(int, key);
        QFETCH(QStringList, faults);
        QFETCH(QList<State>, states);
        QFETCH(QString, totals);
        Station station(faults);
        const auto window = Open(station.Recipe());
        QVERIFY(window);
        QVERIFY(window->Banner->isHidden());
        QCOMPARE(QApplication::focusWidget(), window->Start);
        QSignalSpy ended(window.get(), &StationWindow::GangEnded);
        Press(Qt::Key(key));
        QVERIFY(ended.wait(20000));
        QStringList details;
        for (const PortTile* tile : window->Tiles) details << tile->Detail->text();
        QVERIFY2(States(*window) == states, qPrintable(details.join(" | ")));
        QCOMPARE(window->Recent->Totals->text(), totals);
        QVERIFY(window->Start->isEnabled());

        // Values go to the present boards in the recipe's order; each record names its board.
        QMap<QString, QJsonObject> records;
        for (const QJsonObject& record : station.Records()) records[record["port"].toString()] = record;
        QCOMPARE(records.size(), station.boards.size());
        quint64 value = 10000001;
        for (int tile = 0, board = 0; tile < faults.size(); ++tile) {
            if (faults[tile] == "absent") {
                QVERIFY(window->Tiles[tile]->Detail->text().contains("/nonexistent/ttyUSB9"));
                continue;
            }
            const QJsonObject record = records[station.Pty(board)];
            QCOMPARE(record["serial_value"].toString(), QString::number(value));
            QCOMPARE(record["program"].toString(), QCoreApplication::applicationName());
            QCOMPARE(window->Tiles[tile]->Value->text().endsWith(QString::number(value)), true);
            if (states[tile] == State::Passed) {
                QVERIFY(Received(*station.boards[board]) == station.Expected(value));
                QCOMPARE(record["outcome"].toString(), "O.K.");
            } else {
                QCOMPARE(window->Tiles[tile]->Detail->text(), record["outcome"].toString());
                QVERIFY(record["serial_gap"].toBool());
            }
            ++board;
            ++value;
        }
        QVERIFY(Contents(station.Path("counter")).contains("\nnext " + QByteArray::number(value)));
        // Every value handed out is in the issue log, for the port the record names.
        QMap<QString, QString> issued;
        for (const QJsonObject& entry : LogLines(station.Path("counter.issued")))
            issued[entry["port"].toString()] = entry["value"].toString();
        QCOMPARE(issued.size(), records.size());
        for (const QJsonObject& record : records)
            QCOMPARE(issued[record["port"].toString()], record["serial_value"].toString());
        QCOMPARE(window->Recent->List->topLevelItemCount(), int(station.boards.size()));
    }

    // Anything not approved or not ready: the banner says what, Start stays disabled, the key
    // does nothing, and nothing is sent or taken.
    void notReady_data() {
        QTest::addColumn<QString>("key");  // or keys, with a space between them
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QStringList>("says");
        QTest::newRow("another image")
            << "image/sha256" << QByteArray(64, 'a')
            << QStringList{"; the recipe approves " + QString(64, 'a'), "has SHA-256 "};
        QTest::newRow("another kernel")
            << "kernel/sha256" << QByteArray(64, 'b')
            << QStringList{"The kernel file ", "; the recipe approves " + QString(64, 'b')};
        QTest::newRow("another image and another kernel")
            << "image/sha256 kernel/sha256" << QByteArray(64, 'c')
            << QStringList{"The image ", "The kernel file ", QString(64, 'c')};
        QTest::newRow("warnings, and strict") << "station/strict" << QByteArray("true")
                                              << QStringList{"has warnings"};
        QTest::newRow("data where the values go")
            << "serial/address" << QByteArray("0x100") << QStringList{"No serial values: "};
    }

    void notReady() {
        QFETCH(QString, key);
        QFETCH(QByteArray, value);
        QFETCH(QStringList, says);
        Station station({"", ""});
        QMap<QString, QByteArray> changes;
        for (const QString& name : key.split(' ')) changes[name] = value;
        const auto window = Open(station.Recipe(changes));
        QVERIFY(window);
        QVERIFY(window->Banner->isVisible());
        for (const QString& words : says)
            QVERIFY2(window->Banner->text().contains(words), qPrintable(window->Banner->text()));
        QVERIFY(!window->Start->isEnabled());
        Press(Qt::Key_F5);
        Press(Qt::Key_Return);
        QTest::qWait(50);
        QCOMPARE(States(*window), QList<State>(2, State::Ready));
        for (const auto& board : station.boards) QVERIFY(board->HostBytes().isEmpty());
        QVERIFY(station.Records().isEmpty());
        QVERIFY(!QFile::exists(station.Path("counter")));
        QVERIFY(!QFile::exists(station.Path("counter.issued")));
    }

    // Mid-write, Esc (once confirmed) or closing the window (once confirmed) interrupts every
    // board, each on record; declined, the gang goes on. Start is possible again only when
    // every board has ended.
    void stopMidWrite_data() {
        QTest::addColumn<bool>("closing");
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("status");
        QTest::newRow("Esc, confirmed") << false << true << "interrupted" << 130;
        QTest::newRow("Esc, declined") << false << false << "O.K." << 0;
        QTest::newRow("closed, confirmed")
            << true << true << "the window was closed during the write" << 13;
        QTest::newRow("closed, declined") << true << false << "O.K." << 0;
    }

    void stopMidWrite() {
        QFETCH(bool, closing);
        QFETCH(bool, confirmed);
        QFETCH(QString, outcome);
        QFETCH(int, status);
        // Each board waits a second before its twentieth block: time to act mid-image.
        Station station(QStringList(4, "block:20=delay:1000"));
        const auto window = Open(station.Recipe());
        QVERIFY(window);
        script_.confirmAnswers = {confirmed};
        bool acted = false;
        bool startDisabled = false;
        // Acted on from inside the gang's event loop, once every board is in its image.
        for (PortTile* tile : window->Tiles)
            connect(tile, &PortTile::Changed, window.get(), [&] {
                for (const PortTile* each : window->Tiles)
                    if (each->Detail->text() != "writing the image") return;
                if (std::exchange(acted, true)) return;
                startDisabled = !window->Start->isEnabled() && window->Stop->isEnabled();
                Press(Qt::Key_F5);  // nothing: the gang is running
                if (closing)
                    window->close();
                else
                    Press(Qt::Key_Escape);
            });
        QSignalSpy ended(window.get(), &StationWindow::GangEnded);
        Press(Qt::Key_F5);
        QVERIFY(ended.wait(20000));
        QVERIFY(acted);
        QVERIFY(startDisabled);
        QCOMPARE(script_.questions.size(), 1);
        const QList<QJsonObject> records = station.Records();
        QCOMPARE(records.size(), 4);
        for (const QJsonObject& record : records) {
            QCOMPARE(record["outcome"].toString(), outcome);
            QCOMPARE(record["status"].toInt(), status);
        }
        const State state = status == 0 ? State::Passed : State::Interrupted;
        QCOMPARE(States(*window), QList<State>(4, state));
        QCOMPARE(window->isVisible(), !(closing && confirmed));
        if (closing) return;
        QVERIFY(window->Start->isEnabled());
        if (status != 0)
            QCOMPARE(window->Recent->Totals->text(),
                     "Passed 0    Failed 0    Yield —    Interrupted 4");
    }

    // A signal (a logout, a shutdown) mid-write ends every board on record with the signal's
    // status, and closes the window.
    void signalMidWrite() {
        Station station(QStringList(2, "block:20=delay:1000"));
        const auto window = Open(station.Recipe());
        QVERIFY(window);
        bool raised = false;
        for (PortTile* tile : window->Tiles)
            connect(tile, &PortTile::Changed, window.get(), [&] {
                for (const PortTile* each : window->Tiles)
                    if (each->Detail->text() != "writing the image") return;
                if (!std::exchange(raised, true)) QCOMPARE(::raise(SIGTERM), 0);
            });
        QSignalSpy ended(window.get(), &StationWindow::GangEnded);
        Press(Qt::Key_F5);
        QVERIFY(ended.wait(20000));
        const QList<QJsonObject> records = station.Records();
        QCOMPARE(records.size(), 2);
        for (const QJsonObject& record : records) {
            QCOMPARE(record["outcome"].toString(), "interrupted");
            QCOMPARE(record["status"].toInt(), 128 + SIGTERM);
        }
        QVERIFY(!window->isVisible());
    }

    // A window open all shift on the line's database: each gang's values and rows, past the
    // limit of the first connect and after the server restarted under it.
    void databaseThroughAShift_data() {
        QTest::addColumn<bool>("restart");
        QTest::addColumn<int>("openForMs");
        // Waited out: the limit the window once gave its connection for good was 15 s.
        QTest::newRow("a gang 16 s after the window opened") << false << 16000;
        QTest::newRow("a gang after the server restarted") << true << 0;
    }

    void databaseThroughAShift() {
        QFETCH(bool, restart);
        QFETCH(int, openForMs);
        PostgresServer database({"station_1"});
        database.MakeCounter(StationRule, "board-a");
        Station station({"", ""});
        QElapsedTimer opened;
        opened.start();
        const auto window =
            Open(station.Recipe({{"serial/state", database.Uri("station_1", "board-a").toUtf8()}}));
        QVERIFY(window);
        QVERIFY2(window->Banner->isHidden(), qPrintable(window->Banner->text()));
        QVERIFY(Gang(*window));
        if (restart) {
            database.Stop();
            database.Start();
        }
        QTRY_VERIFY_WITH_TIMEOUT(opened.elapsed() > openForMs, openForMs + 5000);
        QVERIFY(Gang(*window));
        QVERIFY2(window->Banner->isHidden(), qPrintable(window->Banner->text()));
        QCOMPARE(window->Recent->Totals->text(), "Passed 4    Failed 0    Yield 100.0 %");
        for (const QJsonObject& record : station.Records())
            QVERIFY2(!record.contains("serial_row"), qPrintable(record["serial_row"].toString()));
        QCOMPARE(database.Query("SELECT value, outcome FROM morven.issued ORDER BY value"),
                 (QList<QStringList>{{"10000001", "O.K."}, {"10000002", "O.K."},
                                     {"10000003", "O.K."}, {"10000004", "O.K."}}));
    }

    // A station that is not ready is examined again on the operator's word (F5, Enter or Check
    // again), never writing; once what was missing is there, the next F5 writes.
    void notReadyUntilCheckedAgain_data() {
        QTest::addColumn<QString>("missing");
        QTest::addColumn<QString>("says");
        QTest::newRow("a board plugged in after the window opened")
            << "board" << "None of the recipe's ports is present.";
        QTest::newRow("the approved file copied in") << "file" << "has SHA-256 ";
        QTest::newRow("the database started after the window")
            << "database" << "No serial values: the database at ";
    }

    void notReadyUntilCheckedAgain() {
        QFETCH(QString, missing);
        QFETCH(QString, says);
        Station station({""});
        // A device path the adapter's cable is yet to give, and the release yet to come.
        const QString plugged = station.Path("ttyPLUGGED");
        if (missing == "board") station.settings["station/ports"] = plugged.toUtf8();
        if (missing == "file") station.boards[0]->SetSRecords(SRecordsFor(RandomImage(0x2000, 5)));
        std::optional<PostgresServer> database;
        if (missing == "database") {
            database.emplace(QStringList{"station_1"});
            database->MakeCounter(StationRule);
            database->Stop();
            station.settings["serial/state"] = database->Uri("station_1").toUtf8();
        }
        const auto window = Open(station.Recipe());
        QVERIFY(window);
        QVERIFY2(window->Banner->text().contains(says), qPrintable(window->Banner->text()));
        QVERIFY(!window->Start->isEnabled());
        QVERIFY(window->CheckAgain->isVisible());
        Press(Qt::Key_F5);  // nothing has changed yet
        QVERIFY(window->Banner->isVisible());
        QVERIFY(window->CheckAgain->hasFocus());

        if (missing == "board") {
            station.boards.push_back(std::make_unique<SimulatedWrite>());
            QVERIFY(QFile::link(station.Pty(1), plugged));
        } else if (missing == "file") {
            station.boards[0]->SetSRecords(SRecordsFor(station.image));
        } else {
            database->Start();
        }
        Press(Qt::Key_Return);  // on Check again
        QVERIFY2(window->Banner->isHidden(), qPrintable(window->Banner->text()));
        QVERIFY(window->Start->isEnabled());
        QVERIFY(!window->CheckAgain->isVisible());
        QVERIFY(station.Records().isEmpty());  // a check writes nothing
        QVERIFY(Gang(*window));
        QCOMPARE(States(*window), QList<State>{State::Passed});
        QVERIFY(Received(*station.boards.back()) == station.Expected(10000001));
    }

    // A recipe the window refuses is said on standard error as well as in its box, and a signal
    // (a logout, a shutdown, Ctrl-C in its terminal) ends the box and the program by the signal.
    void refusedRecipe_data() {
        QTest::addColumn<QByteArray>("recipe");
        QTest::addColumn<QString>("says");
        QTest::addColumn<int>("signal");
        QTest::newRow("a key missing, SIGTERM")
            << QByteArray("[image]\nfile = program.mot\n") << "lacks image/sha256" << SIGTERM;
        QTest::newRow("an unknown section, SIGHUP")
            << QByteArray("[imgae]\nfile = program.mot\n") << "imgae" << SIGHUP;
        QTest::newRow("no recipe at all, SIGINT") << QByteArray() << "station.ini" << SIGINT;
    }

    void refusedRecipe() {
        QFETCH(QByteArray, recipe);
        QFETCH(QString, says);
        QFETCH(int, signal);
        QTemporaryDir folder;
        const QString path = folder.filePath("station.ini");
        if (!recipe.isEmpty()) SimulatedWrite::WriteFile(path, recipe);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(environment);
        program.start(MORVEN_STATION, {path});
        QVERIFY(program.waitForStarted());
        QByteArray said;
        QTRY_VERIFY2((said += program.readAllStandardError()).contains("morven-station: "), said);
        QVERIFY2(said.contains(says.toUtf8()), said);
        ::kill(pid_t(program.processId()), signal);
        const bool ended = program.waitForFinished(10000);
        if (!ended) {
            program.kill();
            program.waitForFinished();
        }
        QVERIFY(ended);
        QCOMPARE(program.exitStatus(), QProcess::CrashExit);
        QCOMPARE(program.exitCode(), signal);
    }

    // Each tile tells a screen reader its port, state, value and outcome, and announces each
    // change of state; the keyboard reaches Start, Stop, every tile and the last writes in turn.
    void tilesSpeak() {
        Station station({"", "closing=wrong:0x15", "absent"});
        const auto window = Open(station.Recipe());
        QVERIFY(window);
        QWidget* next = window->Start;
        QList<QWidget*> order;
        for (int i = 0; i < 5; ++i) order << (next = next->nextInFocusChain());
        for (QWidget*& widget : order)
            while (!(widget->focusPolicy() & Qt::TabFocus)) widget = widget->nextInFocusChain();
        QCOMPARE(order, (QList<QWidget*>{window->Stop, window->Tiles[0], window->Tiles[1],
                                         window->Tiles[2], window->Recent->List}));

        // As when a screen reader is on: the platform then passes every event to its bridge.
        QPlatformAccessibility* platform =
            QGuiApplicationPrivate::platformIntegration()->accessibility();
        QVERIFY(platform);
        platform->setActive(true);
        accessibilityEvents.clear();
        QAccessible::installUpdateHandler(RecordAccessibility);
        QSignalSpy ended(window.get(), &StationWindow::GangEnded);
        Press(Qt::Key_F5);
        const bool done = ended.wait(20000);
        QAccessible::installUpdateHandler(nullptr);
        platform->setActive(false);
        QVERIFY(done);
        const QStringList names{"Port " + station.Pty(0) + ": O.K.",
                                "Port " + station.Pty(1) + ": failed",
                                "Port /nonexistent/ttyUSB9: absent"};
        const QStringList descriptions{
            "device " + station.Pty(0) + "; adapter —; value 10000001; outcome: O.K.",
            "device " + station.Pty(1) + "; adapter —; value not used: 10000002; outcome: S File Err",
            "device /nonexistent/ttyUSB9; adapter —; why: no device at /nonexistent/ttyUSB9"};
        for (int tile = 0; tile < 3; ++tile) {
            QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(window->Tiles[tile]);
            QCOMPARE(spoken->text(QAccessible::Name), names[tile]);
            QVERIFY2(spoken->text(QAccessible::Description).startsWith(descriptions[tile]),
                     qPrintable(spoken->text(QAccessible::Description)));
            // Announced: writing, then its end; the absent port did not change.
            const auto announced = accessibilityEvents.count(
                qMakePair(static_cast<QObject*>(window->Tiles[tile]), QAccessible::NameChanged));
            QCOMPARE(announced, tile < 2 ? 2 : 0);
        }
    }

    // Under a Japanese locale the operator reads the buttons, tile states, banners and totals
    // in Japanese; the outcome texts, on the tiles and in the last writes, and the records stay
    // as every program writes them. Under C.UTF-8 everything is English, even with LANGUAGE=ja.
    // (CTest sets LANG, and unsets LC_ALL and LC_MESSAGES.)
    void speaksTheLocalesLanguage() {
        const QString lang = qEnvironmentVariable("LANG");
        QVERIFY2(lang == "ja_JP.UTF-8" || lang == "C.UTF-8", qPrintable(lang));
        const bool japanese = lang == "ja_JP.UTF-8";
        const auto says = [japanese](const char* english, const char* inJapanese) {
            return QString::fromUtf8(japanese ? inJapanese : english);
        };
        Station station({"", "closing=wrong:0x15", "absent"});
        const auto window = Open(station.Recipe());
        QVERIFY(window);
        QCOMPARE(window->Start->text(), says("Start (Enter)", "開始 (Enter)"));
        QCOMPARE(window->Stop->text(), says("Stop (Esc)", "停止 (Esc)"));
        QCOMPARE(window->Tiles[0]->StateLabel->text(), says("READY", "準備完了"));
        QCOMPARE(window->Tiles[2]->StateLabel->text(), says("ABSENT", "未接続"));
        QSignalSpy ended(window.get(), &StationWindow::GangEnded);
        Press(Qt::Key_F5);
        QVERIFY(ended.wait(20000));
        QCOMPARE(window->Tiles[0]->StateLabel->text(), says("O.K.", "合格"));
        QCOMPARE(window->Tiles[1]->StateLabel->text(), says("FAILED", "不合格"));
        QCOMPARE(window->Recent->Totals->text(), says("Passed 1    Failed 1    Yield 50.0 %",
                                                      "合格 1    不合格 1    歩留まり 50.0 %"));
        // The outcomes in their own words, as on record.
        QMap<QString, QString> outcomes;
        for (const QJsonObject& record : station.Records())
            outcomes[record["port"].toString()] = record["outcome"].toString();
        QCOMPARE(outcomes, (QMap<QString, QString>{{station.Pty(0), "O.K."},
                                                   {station.Pty(1), "S File Err "}}));
        QCOMPARE(window->Tiles[1]->Detail->text(), "S File Err ");
        QStringList recent;
        for (int row = 0; row < window->Recent->List->topLevelItemCount(); ++row)
            recent << window->Recent->List->topLevelItem(row)->text(3);
        recent.sort();
        QCOMPARE(recent, (QStringList{"O.K.", "S File Err "}));

        // Not approved: the banner, in the locale's words, names both hashes whole.
        const auto unapproved = Open(station.Recipe({{"image/sha256", QByteArray(64, 'a')}}));
        QVERIFY(unapproved);
        const QString banner = unapproved->Banner->text();
        QVERIFY2(banner.startsWith(says("NOT READY: The image ", "準備未完了: イメージ ")),
                 qPrintable(banner));
        QVERIFY2(
            banner.contains(QString(64, 'a')) && banner.contains(QString(Sha256(station.image))),
            qPrintable(banner));
    }
};

QTEST_MAIN(TestStation)
#include "tst_station.moc"
