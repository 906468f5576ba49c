// Saves a picture of each window as the operator sees it: window-shots OUTPUT_FOLDER
#include <QApplication>
#include <QDir>
#include <QTimer>

#include "Form1.h"
#include "Form2.h"
#include "frmPeerA.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? argv[1] : ".");
    morven::Form2 startup;
    morven::Form1 main;
    main.ShowPortNumber(1);
    main.ShowSRecordPath(QStringLiteral("/home/bench/firmware/sample.mot"));
    main.SetProgressMaximum(100);
    main.SetProgressValue(40);
    pellux::frmPeerA console;
    console.SetErrorReporter([](const QString&) {});  // nothing is sent from here
    console.txtSend->setText(QStringLiteral("hello"));
    console.txtOutput->setPlainText(QStringLiteral("hello\nテスト\n"));
    const QList<QPair<QWidget*, QString>> windows{
        {&startup, "morven-com.png"}, {&main, "morven-main.png"}, {&console, "pellux.png"}};
    for (const auto& [window, name] : windows) window->show();
    QTimer::singleShot(500, [&] {
        for (const auto& [window, name] : windows) window->grab().save(out.filePath(name));
        app.quit();
    });
    return app.exec();
}
