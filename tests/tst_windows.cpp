// MORVEN's two windows, real widgets under the offscreen platform, dialogs answered by script.
#include <sys/stat.h>

#include <QApplication>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>

#include "CliRun.h"
#include "Form2.h"
#include "OperatorDialogs.h"
#include "SimulatedWrite.h"
#include "Sshd.h"
#include "Translations.h"
#include "Twips.h"
#include "image/TargetImage.h"

using morven::Form1;
using morven::Form2;
using morven::OperatorDialogs;

class TestWindows : public QObject {
    Q_OBJECT

    OperatorDialogs::Script script_;
    QTemporaryDir dataHome_;

    void SetKernel(const QByteArray& bytes) {
        QDir(dataHome_.path()).mkpath("morven");
        SimulatedWrite::WriteFile(dataHome_.filePath("morven/zididuv.bin"), bytes);
    }

    QJsonObject LastRecord() const {
        QFile log(dataHome_.filePath("state/morven/writes.jsonl"));
        if (!log.open(QIODevice::ReadOnly)) return {};
        return QJsonDocument::fromJson(log.readAll().trimmed().split('\n').last()).object();
    }

    static void ReleaseOver(QWidget* widget, Qt::MouseButton button) {
        QTest::mouseRelease(widget, button, {}, widget->rect().center());
    }

private slots:
    // As the program does: under a Japanese locale too, these windows keep their own words.
    void initTestCase() { common::LoadTranslations(QStringLiteral("morven")); }

    void init() {
        script_ = {};
        OperatorDialogs::UseScript(&script_);
        qputenv("XDG_DATA_HOME", dataHome_.path().toUtf8());
        qputenv("XDG_DATA_DIRS", dataHome_.filePath("none").toUtf8());
        qputenv("XDG_STATE_HOME", dataHome_.filePath("state").toUtf8());
        qputenv("XDG_CONFIG_HOME", dataHome_.filePath("config").toUtf8());
        SetKernel(QByteArray(16, '\x5A'));
    }

    void kernelCheck_data() {
        QTest::addColumn<int>("size");  // -1: no file
        QTest::addColumn<bool>("loads");
        QTest::newRow("missing") << -1 << false;
        QTest::newRow("empty") << 0 << false;
        QTest::newRow("present") << 1 << true;
    }

    void kernelCheck() {
        QFETCH(int, size);
        QFETCH(bool, loads);
        QFile::remove(dataHome_.filePath("morven/zididuv.bin"));
        if (size >= 0) SetKernel(QByteArray(size, '\x01'));
        Form2 form;
        QCOMPARE(form.Load(), loads);
        QCOMPARE(script_.messages, loads ? QStringList{} : QStringList{"Not found ZIDIDUV.BIN"});
        // The details say where it was looked for, so the operator knows where to put it.
        if (!loads)
            QCOMPARE(script_.details.front(), "Looked for zididuv.bin in:\n  " +
                                                  dataHome_.filePath("morven") + "\n  " +
                                                  dataHome_.filePath("none/morven"));
    }

    // The file dialog opens in the folder of the last file chosen, in this run or an earlier one.
    void fileDialogRemembersTheFolder() {
        QTemporaryDir firmware;
        script_.fileAnswers = {firmware.filePath("v2/program.mot")};
        QDir().mkpath(firmware.filePath("v2"));
        QVERIFY(OperatorDialogs::ChooseSRecordFile(nullptr));
        const auto dialog = OperatorDialogs::MakeSRecordDialog(nullptr);
        QCOMPARE(dialog->directory().absolutePath(), firmware.filePath("v2"));
        // A cancel remembers nothing new.
        QVERIFY(!OperatorDialogs::ChooseSRecordFile(nullptr));
        QCOMPARE(OperatorDialogs::Settings()->value("files/lastFolder").toString(),
                 firmware.filePath("v2"));
    }

    void layoutAsDrawn() {
        Form2 form;
        QCOMPARE(form.windowTitle(), QString("Com"));
        QCOMPARE(form.size(), QSize(122, 97));
        QCOMPARE(form.Option1[9]->geometry(), common::TwipsRect(960, 1140, 255, 255));
        QCOMPARE(form.Label1[9]->text(), QString("Com10"));
        // The layout's font where installed, else IPA Gothic at the size that fits the labels.
        const QString family = QFontInfo(form.Label1[9]->font()).family();
        const bool layoutFont = family == "ＭＳ ゴシック" || family == "MS Gothic";
        QCOMPARE(form.Label1[9]->font().pointSizeF(), layoutFont ? 9.75 : 9.0);
        Form1 main;
        QCOMPARE(main.windowTitle(), QString("SALTOR 24.576Mhz"));
        QCOMPARE(main.size(), QSize(356, 43));
        QCOMPARE(main.Command1->text(), QString("Write"));
        QCOMPARE(main.Command2->text(), QString("Change File"));
        QCOMPARE(main.ProgressBar1->geometry(), common::TwipsRect(900, 360, 3255, 255));
        QWidget* next = main.Command1->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
        QCOMPARE(next, main.Command2);
    }

    void fileDialogOffersAllFilesFirst() {
        const auto dialog = OperatorDialogs::MakeSRecordDialog(nullptr);
        QCOMPARE(dialog->nameFilters(),
                 (QStringList{"モトローラSファイル (*.mot)", "すべてのファイル (*.*)"}));
        QCOMPARE(dialog->selectedNameFilter(), QString("すべてのファイル (*.*)"));
        QCOMPARE(dialog->fileMode(), QFileDialog::AnyFile);
    }

    void portChoiceByMouseRelease_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("button");
        QTest::newRow("Com1, left button") << 0 << int(Qt::LeftButton);
        QTest::newRow("Com4, right button") << 3 << int(Qt::RightButton);
        QTest::newRow("Com10, middle button") << 9 << int(Qt::MiddleButton);
    }

    void portChoiceByMouseRelease() {
        QFETCH(int, index);
        QFETCH(int, button);
        SimulatedWrite board;
        qputenv(qPrintable(QString("MORVEN_COM%1").arg(index + 1)),
                QByteArray::fromStdString(board.Board().SlavePath()));
        Form2 form;
        form.show();
        ReleaseOver(form.Option1[index], Qt::MouseButton(button));
        QTRY_COMPARE(script_.fileRequests, 1);
        // Cancelled: the start-up window stays, the port choice stays in effect.
        QVERIFY(form.isVisible());
        QVERIFY(form.MainWindow() && !form.MainWindow()->isVisible());
        QCOMPARE(form.MainWindow()->Label1->text(), QString::number(index + 1));
        QVERIFY(!form.MainWindow()->PDQComm1.IsOpen());
    }

    // Hovering a port button or its label names the device that port opens, looked up then.
    void portToolTipsNameTheDevice_data() {
        QTest::addColumn<QString>("device");  // "board": the simulated board's pty
        QTest::addColumn<QString>("says");
        QTest::newRow("mapped to the simulated board") << "board"
                                                       << " — present";
        QTest::newRow("mapped to nothing") << "/nonexistent/ttyUSB7"
                                           << " — absent";
        QTest::newRow("mapped to another machine")
            << "rfc2217://127.0.0.1:2001"
            << " — a serial port on another machine (RFC 2217)";
        QTest::newRow("mapped to a board written on its machine")
            << "ssh://lab3/dev/ttyUSB0"
            << " — a serial port on another machine, written there (ssh)";
    }

    void portToolTipsNameTheDevice() {
        QFETCH(QString, device);
        QFETCH(QString, says);
        SimulatedWrite board;
        if (device == "board") device = QString::fromStdString(board.Board().SlavePath());
        Form2 form;
        form.show();
        // After the window opened: an adapter plugged in late.
        qputenv("MORVEN_COM8", device.toUtf8());
        const QString expected = device + says;
        for (QWidget* widget :
             {static_cast<QWidget*>(form.Option1[7]), static_cast<QWidget*>(form.Label1[7])}) {
            QHelpEvent hover(QEvent::ToolTip, widget->rect().center(),
                             widget->mapToGlobal(widget->rect().center()));
            QApplication::sendEvent(widget, &hover);
            QVERIFY2(widget->toolTip().startsWith(expected), qPrintable(widget->toolTip()));
        }
    }

    void closingTheStartupWindowAfterACancelEndsTheProgram() {
        SimulatedWrite board;
        Form2 form;
        form.show();
        ReleaseOver(form.Option1[0], Qt::LeftButton);
        QTRY_COMPARE(script_.fileRequests, 1);
        form.close();
        // No window is left visible, so the application's event loop ends.
        for (const QWidget* window : QApplication::topLevelWidgets()) QVERIFY(!window->isVisible());
    }

    void keyboardAndLabelsDoNotChoose() {
        Form2 form;
        form.show();
        form.Option1[0]->setFocus();
        QTest::keyClick(form.Option1[0], Qt::Key_Down);
        QTest::keyClick(form.Option1[1], Qt::Key_Space);
        QTest::mouseClick(form.Label1[2], Qt::LeftButton);
        QTest::qWait(20);
        QCOMPARE(script_.fileRequests, 0);
        QVERIFY(!form.MainWindow());
    }

    void portThatCannotBeOpened() {
        qputenv("MORVEN_COM3", "/nonexistent/ttyUSB9");
        Form2 form;
        form.show();
        ReleaseOver(form.Option1[2], Qt::LeftButton);
        QTRY_COMPARE(script_.messages.size(), 1);
        QVERIFY2(script_.messages[0].startsWith(
                     "Cannot open the serial port COM3 (/nonexistent/ttyUSB9): "),
                 qPrintable(script_.messages[0]));
        QCOMPARE(script_.fileRequests, 0);
        QVERIFY(form.isVisible());
    }

    void fullWriteThroughTheWindows() {
        SimulatedWrite board;
        script_.fileAnswers = {board.sRecordPath};
        const QString chosen = board.sRecordPath;
        Form2 form;
        form.show();
        ReleaseOver(form.Option1[0], Qt::LeftButton);
        QTRY_VERIFY(form.MainWindow() && form.MainWindow()->isVisible());
        QVERIFY(!form.isVisible());
        Form1& main = *form.MainWindow();
        QCOMPARE(main.Label2->text(), chosen);
        QVERIFY(main.Label2->toolTip().startsWith(chosen + "\n"));

        // A cancelled change keeps the file.
        QTest::mouseClick(main.Command2, Qt::LeftButton);
        QCOMPARE(main.Label2->text(), chosen);
        QCOMPARE(main.SRecordPath, chosen);

        SetKernel(QByteArray(200, '\x33'));
        QSignalSpy progress(main.ProgressBar1, &QProgressBar::valueChanged);
        QTest::mouseClick(main.Command1, Qt::LeftButton);
        QCOMPARE(script_.messages, QStringList{"O.K."});
        QVERIFY(progress.size() > 10);
        QCOMPARE(main.ProgressBar1->value(), 0);
        QVERIFY(main.Command1->isEnabled() && main.Command2->isEnabled());
        QVERIFY(!main.PDQComm1.IsOpen());
        QCOMPARE(main.PDQComm1.LineSettings(), QString("19200,N,8,1"));

        // The write is on record, as morven-cli's are.
        const QJsonObject record = LastRecord();
        QCOMPARE(record["outcome"].toString(), QString("O.K."));
        QCOMPARE(record["port"].toString(), QString("COM1"));
        QCOMPARE(record["program"].toString(), QCoreApplication::applicationName());
        QCOMPARE(record["n"].toInt(), 2);
    }

    // The write's progress calls reach the bar only when its filled width changes; the
    // maximum, the final value and 0 always do.
    void progressReachesTheBarOnlyWhenItsDrawingChanges_data() {
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("step");
        QTest::newRow("291-byte kernel, every 11 bytes") << 291 << 11;
        QTest::newRow("full image, every 64-byte block") << int(morven::ImageSize) << 64;
        QTest::newRow("one byte") << 1 << 1;
    }

    void progressReachesTheBarOnlyWhenItsDrawingChanges() {
        QFETCH(int, maximum);
        QFETCH(int, step);
        Form1 main;
        main.show();
        QSignalSpy shown(main.ProgressBar1, &QProgressBar::valueChanged);
        main.SetProgressMaximum(morven::WriteStage::Image, maximum);
        QList<int> calls;
        for (int value = step; value < maximum; value += step) calls << value;
        calls << maximum << 0;
        for (const int value : calls) main.SetProgressValue(value);

        const int width = main.ProgressBar1->width();
        QVERIFY2(shown.size() <= width + 2, qPrintable(QString::number(shown.size())));
        QVERIFY(shown.size() >= std::min<qsizetype>(calls.size(), width / 2));
        QCOMPARE(shown.at(shown.size() - 2).at(0).toInt(), maximum);
        QCOMPARE(main.ProgressBar1->value(), 0);
    }

    void writeOnAPortThatCannotBeOpened() {
        SimulatedWrite files;
        Form1 main;
        main.ShowSRecordPath(files.sRecordPath);
        qputenv("MORVEN_COM5", "/nonexistent/ttyUSB5");
        main.PDQComm1.SelectPort(5);
        QTest::mouseClick(main.Command1, Qt::LeftButton);
        QCOMPARE(script_.messages.size(), 1);
        QVERIFY(script_.messages[0].startsWith("Cannot open the serial port COM5"));
        QVERIFY(main.Command1->isEnabled() && main.Command2->isEnabled());
    }

    // A port mapped to ssh:// is written on the board's machine, the bar showing its progress;
    // the record here names the URL.
    void writeOnABoardThroughSsh() {
        Sshd sshd;
        qputenv("MORVEN_SSH_COMMAND", sshd.Command());
        SimulatedWrite board;
        SetKernel(QByteArray(200, '\x33'));
        const QString url = sshd.Url(Pty(board));
        qputenv("MORVEN_COM6", url.toUtf8());
        Form1 main;
        main.ShowSRecordPath(board.sRecordPath);
        main.PDQComm1.SelectPort(6);
        QSignalSpy progress(main.ProgressBar1, &QProgressBar::valueChanged);
        QTest::mouseClick(main.Command1, Qt::LeftButton);
        qunsetenv("MORVEN_SSH_COMMAND");
        QCOMPARE(script_.messages, QStringList{"O.K."});
        QVERIFY(progress.size() > 2);
        QCOMPARE(Received(board), QByteArray("\x12\x34"));
        QCOMPARE(LastRecord()["device"].toString(), url);
    }

    // The file is checked when chosen and again at Write: warnings colour its name and are
    // written anyway; a file with nothing to write is refused before the port is opened.
    void fileCheckShownBeforeWrite_data() {
        QTest::addColumn<QByteArray>("records");
        QTest::addColumn<bool>("warned");
        QTest::addColumn<QString>("toolTipHas");
        QTest::addColumn<QString>("message");  // starts with
        QTest::newRow("clean") << QByteArray("S10500001234B4\n") << false << "SHA-256:   "
                               << "O.K.";
        QTest::newRow("bad checksum")
            << QByteArray("S1050000123400\n") << true << "1 record with a wrong checksum"
            << "O.K.";
        QTest::newRow("nothing to write")
            << QByteArray("S00600004844521B\nS9030000FC\n") << true << "no S1, S2 or S3 data record"
            << "The S-record file ";
        QTest::newRow("ELF cut short") << QByteArray(
                                              "\x7f"
                                              "ELF\x02\x01\x01\0\0\0",
                                              10)
                                       << true << "The ELF file "
                                       << "The ELF file ";
    }

    void fileCheckShownBeforeWrite() {
        QFETCH(QByteArray, records);
        QFETCH(bool, warned);
        QFETCH(QString, toolTipHas);
        QFETCH(QString, message);
        SimulatedWrite board;
        board.SetSRecords(records);
        Form1 main;
        main.PDQComm1.SelectPort(1);
        main.ShowSRecordPath(board.sRecordPath);
        QVERIFY2(main.Label2->toolTip().contains(toolTipHas), qPrintable(main.Label2->toolTip()));
        QCOMPARE(main.Label2->palette().color(QPalette::WindowText) !=
                     main.palette().color(QPalette::WindowText),
                 warned);
        QTest::mouseClick(main.Command1, Qt::LeftButton);
        QCOMPARE(script_.messages.size(), 1);
        QVERIFY2(script_.messages[0].startsWith(message), qPrintable(script_.messages[0]));
        if (message == "O.K.") return;
        QVERIFY(script_.messages[0].contains(board.sRecordPath));
        QVERIFY(script_.messages[0].endsWith("Nothing was sent."));
        QVERIFY(board.HostBytes().isEmpty());
        QCOMPARE(board.Board().CompletedWrites(), 0);
    }

    // A FIFO nobody writes: the window gives up after its limit and says so.
    void stoppedReadSaysWhy() {
        SimulatedWrite board;
        const QString fifo = board.FilePath("pipe.mot");
        QVERIFY(::mkfifo(qPrintable(fifo), 0600) == 0);
        Form1::FileWaitLimitMs = 300;
        Form1 main;
        main.ShowSRecordPath(fifo);
        QVERIFY2(main.Label2->toolTip().contains("reading it was stopped"),
                 qPrintable(main.Label2->toolTip()));
        QTest::mouseClick(main.Command1, Qt::LeftButton);
        Form1::FileWaitLimitMs = 10000;
        QCOMPARE(script_.messages.size(), 1);
        QCOMPARE(script_.messages[0], "Nothing arrived from " + fifo +
                                          " for 0.3 seconds, so reading it was stopped. "
                                          "Nothing was sent.");
        QVERIFY(board.HostBytes().isEmpty());
    }

    void closingDuringAWriteStopsIt() {
        std::string error;
        SimulatedWrite board({*ParseBoardFault("command=delay:2900", &error)});
        Form1 main;
        main.PDQComm1.SelectPort(1);
        main.ShowSRecordPath(board.sRecordPath);
        main.show();
        QTimer::singleShot(300, &main, [&main] { main.close(); });
        QElapsedTimer elapsed;
        elapsed.start();
        QTest::mouseClick(main.Command1, Qt::LeftButton);
        QVERIFY(elapsed.elapsed() < 2500);
        QCOMPARE(script_.messages, QStringList{});
        QVERIFY(!main.PDQComm1.IsOpen());
        QVERIFY(!main.isVisible());
        // On record all the same, with a status of its own.
        const QJsonObject record = LastRecord();
        QCOMPARE(record["outcome"].toString(), QString("the window was closed during the write"));
        QCOMPARE(record["status"].toInt(), 13);
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
