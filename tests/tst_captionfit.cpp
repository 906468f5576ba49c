// Every caption of the four windows and of MORVEN's message boxes is drawn whole inside its
// control, in the font it is drawn with. CTest runs this at the scale factors 1, 1.5 and 2, in
// English and in Japanese.
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QTest>

#include "Form2.h"
#include "OperatorDialogs.h"
#include "StationWindow.h"
#include "Translations.h"
#include "frmPeerA.h"

namespace {

// Empty when the caption fits: its advance within the width of contents, and the ink of its
// glyphs, aligned in contents as the control aligns it, within the height of contents and
// the control's own width (a glyph may reach a little past its advance, into a margin, as "T"
// does). Ink that strays by less than half a pixel, a rounding of the outline, counts as in.
QString Misfit(const QWidget* control, const QString& text, const QRect& contents,
               Qt::Alignment alignment) {
    const QFontMetricsF metrics(control->font());
    const QSizeF size(metrics.horizontalAdvance(text), metrics.height());
    QRectF line(QPointF(), size);
    line.moveCenter(QRectF(contents).center());
    if (alignment & Qt::AlignLeft) line.moveLeft(contents.left());
    const QRectF ink =
        metrics.tightBoundingRect(text).translated(line.left(), line.top() + metrics.ascent());
    const QRectF room =
        QRectF(control->rect().left(), contents.top(), control->width(), contents.height())
            .adjusted(-0.5, -0.5, 0.5, 0.5);
    if (size.width() <= contents.width() && room.contains(ink)) return {};
    return QStringLiteral("\"%1\" in %2: advance %3, ink %4,%5 %6x%7; room %8,%9 %10x%11")
        .arg(text, QFontInfo(control->font()).family())
        .arg(size.width())
        .arg(ink.x())
        .arg(ink.y())
        .arg(ink.width())
        .arg(ink.height())
        .arg(contents.x())
        .arg(contents.y())
        .arg(contents.width())
        .arg(contents.height());
}

QStringList Misfits(const QWidget* window, const QList<const QWidget*>& valueLabels) {
    QStringList misfits;
    for (const QLabel* label : window->findChildren<QLabel*>())
        if (!valueLabels.contains(label) && !label->text().isEmpty())
            misfits << Misfit(label, label->text(), label->contentsRect(), label->alignment());
    for (const QPushButton* button : window->findChildren<QPushButton*>()) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect contents =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        misfits << Misfit(button, button->text(), contents, Qt::AlignCenter);
    }
    for (const QGroupBox* frame : window->findChildren<QGroupBox*>()) {
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = frame->title();
        option.textAlignment = frame->alignment();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const QRect label = frame->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                           QStyle::SC_GroupBoxLabel, frame);
        misfits << Misfit(frame, frame->title(), label.intersected(frame->rect()), Qt::AlignCenter);
    }
    misfits.removeAll(QString());
    return misfits;
}

// The first row, from the top, where the frame draws anything in a column clear of its caption.
int FrameBorderRow(QGroupBox* frame) {
    const QImage image = frame->grab().toImage();
    const qreal scale = image.devicePixelRatio();
    const int x = image.width() - static_cast<int>(12 * scale);
    for (int y = 1; y < image.height(); ++y)
        if (image.pixel(x, y) != image.pixel(x, 0)) return static_cast<int>(y / scale);
    return -1;
}

}  // namespace

class TestCaptionFit : public QObject {
    Q_OBJECT

private slots:
    // As the programs do: the station's and the dialogs' words follow the locale.
    void initTestCase() { common::LoadTranslations(QStringLiteral("morven")); }

    void everyCaptionFits() {
        morven::Form2 startup;
        morven::Form1 main;
        main.ShowPortNumber(10);
        main.ShowSRecordPath(QStringLiteral("/home/bench/firmware/a-rather-long-name.mot"));
        pellux::frmPeerA console;
        const auto longest =
            morven::OperatorDialogs::MakeMessageBox(&main, QStringLiteral("Time Out S File Err"));
        // The station with its longest words: a port absent, one interrupted, the banner.
        QTemporaryDir folder;
        QFile recipe(folder.filePath(QStringLiteral("station.ini")));
        QVERIFY(recipe.open(QIODevice::WriteOnly));
        recipe.write("[image]\nfile = missing.mot\nsha256 = " + QByteArray(64, 'a') +
                     "\n[kernel]\nfile = zididuv.bin\nsha256 = " + QByteArray(64, 'b') +
                     "\n[station]\nports = /nonexistent/ttyUSB0, /nonexistent/ttyUSB1\n");
        recipe.close();
        morven::StationWindow station;
        QVERIFY(station.Load(recipe.fileName()));
        station.Tiles[1]->ShowResult({.outcome = morven::WriteOutcome::Cancelled,
                                      .text = QStringLiteral("interrupted"),
                                      .unitNumber = QStringLiteral("10000001")});
        station.Recent->Add({.outcome = morven::WriteOutcome::Cancelled,
                             .text = QStringLiteral("interrupted")});
        // The station's question before it stops every write, with its two buttons.
        morven::OperatorDialogs::AskToConfirm(
            &station,
            morven::StationWindow::tr("Stop every write? Each board is recorded as interrupted "
                                      "and must be written again."),
            morven::StationWindow::tr("&Stop every write"),
            morven::StationWindow::tr("&Go on writing"), [](bool) {});
        auto* question = station.findChild<QMessageBox*>();
        QVERIFY(question);
        const QList<QWidget*> windows{&startup, &main, &console, longest.get(), &station, question};
        for (QWidget* window : windows) window->show();
        QCoreApplication::processEvents();
        if (QLocale::system().language() == QLocale::Japanese) {
            QCOMPARE(station.Start->text(), QStringLiteral("開始 (Enter)"));
            QVERIFY(QFontInfo(station.Start->font()).family().startsWith(QStringLiteral("IPA")));
        }

        // Wrapped texts are not captions: they take the lines they need.
        const auto* asked = question->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        for (QWidget* window : windows) {
            const QStringList misfits =
                Misfits(window, {main.Label2, station.Banner, station.Tiles[0]->Detail,
                                 station.Tiles[1]->Detail, asked});
            QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join('\n')));
        }
        const int border = FrameBorderRow(startup.Frame1);
        QVERIFY2(border >= 0 && border < startup.Option1[0]->y(),
                 qPrintable(QString::number(border)));
    }
};

QTEST_MAIN(TestCaptionFit)
#include "tst_captionfit.moc"
