// Saves a picture of each window as the operator sees it: window-shots OUTPUT_FOLDER [SUFFIX]
// (the suffix goes before ".png", e.g. "@2x" for a run with QT_SCALE_FACTOR=2). Under a locale
// with a translation only the station is taken, the windows whose words follow the locale.
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <vector>

#include "BoardSimulator.h"
#include "Form1.h"
#include "Form2.h"
#include "OperatorDialogs.h"
#include "StationWindow.h"
#include "Translations.h"
#include "frmPeerA.h"

namespace {

QByteArray Sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// Four paced simulated boards, the third refusing the image's checksum, and a recipe that
// writes the sample file to them with a serial number each.
struct StationBench {
    explicit StationBench(const QTemporaryDir& files) {
        QStringList ports;
        for (int board = 0; board < 4; ++board) {
            BoardSimulator::Options options{.pace = true};
            if (board == 2) {
                std::string error;
                options.faults = {*ParseBoardFault("closing=wrong:0x15", &error)};
            }
            ports << files.filePath(QStringLiteral("ttyUSB%1").arg(board));
            options.linkPath = ports.back().toStdString();
            boards.push_back(std::make_unique<BoardSimulator>(options));
            std::string error;
            if (!boards.back()->Open(&error)) qFatal("board-sim: %s", error.c_str());
            boards.back()->StartInBackground();
        }
        const QByteArray kernel(64, '\x5A');
        QFile kernelFile(files.filePath(QStringLiteral("zididuv.bin")));
        kernelFile.open(QIODevice::WriteOnly);
        kernelFile.write(kernel);
        kernelFile.close();
        QFile recipe(files.filePath(QStringLiteral("station-3.ini")));
        recipe.open(QIODevice::WriteOnly);
        // The sample's 4096 bytes, as --check prints their SHA-256.
        recipe.write("[image]\nfile = sample.mot\nsha256 = "
                     "c8f5d0341d54d951a71b136e6e2afcb14d11ed8489a7ae126a8fee0df6ecf193\n"
                     "[kernel]\nfile = zididuv.bin\nsha256 = " + Sha256(kernel) +
                     "\n[station]\nports = " + ports.join(QStringLiteral(", ")).toUtf8() +
                     "\nlog = writes.jsonl\n[serial]\naddress = 0x1800\nformat = dec:8\n"
                     "start = 10000001\nstate = counter\n");
        path = recipe.fileName();
    }
    std::vector<std::unique_ptr<BoardSimulator>> boards;
    QString path;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool translated = common::LoadTranslations(QStringLiteral("morven"));
    const QDir out(argc > 1 ? argv[1] : ".");
    const QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const auto save = [&out, &suffix](QWidget* window, const QString& name) {
        window->grab().save(out.filePath(name + suffix + QStringLiteral(".png")));
    };
    morven::Form2 startup;
    morven::Form1 main;
    main.ShowPortNumber(1);
    // A clean file, as the operator usually has: the window checks it when it is shown. The
    // picture names it as it would lie in a user's folder.
    QTemporaryDir files;
    const QString sample = files.filePath(QStringLiteral("sample.mot"));
    QFile::copy(QStringLiteral(SAMPLE_MOT), sample);
    main.ShowSRecordPath(sample);
    main.Label2->setText(QStringLiteral("/home/bench/firmware/sample.mot"));
    main.SetProgressMaximum(morven::WriteStage::Image, 100);
    main.SetProgressValue(40);
    const auto message = morven::OperatorDialogs::MakeMessageBox(&main, QStringLiteral("O.K."));
    pellux::frmPeerA console;
    console.SetErrorReporter([](const QString&) {});  // nothing is sent from here
    console.txtSend->setText(QStringLiteral("hello"));
    console.txtOutput->setPlainText(QStringLiteral("hello\nテスト\n"));
    const QList<QPair<QWidget*, QString>> windows{{&startup, "morven-com"},
                                                  {&main, "morven-main"},
                                                  {message.get(), "morven-message"},
                                                  {&console, "pellux"}};
    for (const auto& [window, name] : windows) window->show();

    // The station: idle, writing (every board in its image), and done with one failure.
    qputenv("XDG_STATE_HOME", files.filePath(QStringLiteral("state")).toUtf8());
    StationBench bench(files);
    morven::StationWindow station;
    if (!station.Load(bench.path)) return 1;
    station.show();
    bool writingSaved = false;
    for (morven::PortTile* tile : station.Tiles)
        QObject::connect(tile->Progress, &QProgressBar::valueChanged, &station, [&] {
            for (const morven::PortTile* each : station.Tiles)
                if (each->Detail->text() != morven::PortTile::tr("writing the image") ||
                    each->Progress->value() * 100 < each->Progress->maximum() * 40)
                    return;
            if (!std::exchange(writingSaved, true))
                save(&station, QStringLiteral("morven-station-writing"));
        });
    QObject::connect(&station, &morven::StationWindow::GangEnded, &app, [&] {
        save(&station, QStringLiteral("morven-station-done"));
        app.quit();
    });
    QTimer::singleShot(500, [&] {
        if (!translated)
            for (const auto& [window, name] : windows) save(window, name);
        save(&station, QStringLiteral("morven-station-idle"));
        station.Start->click();
    });
    return app.exec();
}
