// Saves a picture of each window as the operator sees it: window-shots OUTPUT_FOLDER [SUFFIX]
// (the suffix goes before ".png", e.g. "@2x" for a run with QT_SCALE_FACTOR=2).
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include "Form1.h"
#include "Form2.h"
#include "OperatorDialogs.h"
#include "frmPeerA.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? argv[1] : ".");
    const QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
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
    QTimer::singleShot(500, [&] {
        for (const auto& [window, name] : windows)
            window->grab().save(out.filePath(name + suffix + QStringLiteral(".png")));
        app.quit();
    });
    return app.exec();
}
