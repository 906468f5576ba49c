#include "OperatorDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include "WindowFont.h"

namespace morven {

using common::WindowFont;

namespace {

const QString LastFolderKey = QStringLiteral("files/lastFolder");
const QString LastRecipeFolderKey = QStringLiteral("files/lastRecipeFolder");

}  // namespace

void OperatorDialogs::ShowMessage(QWidget* parent, const QString& text, const QString& details) {
    if (script_) {
        script_->messages << text;
        script_->details << details;
        return;
    }
    const auto box = MakeMessageBox(parent, text, details);
    box->exec();
}

std::unique_ptr<QMessageBox> OperatorDialogs::MakeMessageBox(QWidget* parent, const QString& text,
                                                             const QString& details) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, QStringLiteral("MORVEN"), text,
                                             QMessageBox::Ok, parent);
    box->setDetailedText(details);
    box->setFont(WindowFont());
    // Letters such as "T" reach a pixel beyond their advance; the box sizes the label to the
    // advance alone.
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
        label->setContentsMargins(2, 0, 2, 0);
    return box;
}

std::unique_ptr<QFileDialog> OperatorDialogs::MakeSRecordDialog(QWidget* parent) {
    auto dialog = std::make_unique<QFileDialog>(parent);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    // A typed name of a file that does not exist yet is accepted; the next write reports it.
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::ReadOnly, false);
    const QStringList filters{QStringLiteral("モトローラSファイル (*.mot)"),
                              QStringLiteral("すべてのファイル (*.*)")};
    dialog->setNameFilters(filters);
    dialog->selectNameFilter(filters.at(1));
    const QString folder = Settings()->value(LastFolderKey).toString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) dialog->setDirectory(folder);
    return dialog;
}

std::unique_ptr<QSettings> OperatorDialogs::Settings() {
    return std::make_unique<QSettings>(QStringLiteral("morven"), QStringLiteral("morven"));
}

std::optional<QString> OperatorDialogs::ChooseFile(QWidget* parent, const QString& folderKey,
                                                   const DialogMaker& make) {
    std::optional<QString> chosen;
    if (script_) {
        ++script_->fileRequests;
        if (!script_->fileAnswers.isEmpty()) chosen = script_->fileAnswers.takeFirst();
    } else {
        const auto dialog = make(parent);
        if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
            chosen = dialog->selectedFiles().constFirst();
    }
    if (chosen) Settings()->setValue(folderKey, QFileInfo(*chosen).absolutePath());
    return chosen;
}

std::optional<QString> OperatorDialogs::ChooseSRecordFile(QWidget* parent) {
    return ChooseFile(parent, LastFolderKey, MakeSRecordDialog);
}

std::optional<QString> OperatorDialogs::ChooseRecipeFile(QWidget* parent) {
    return ChooseFile(parent, LastRecipeFolderKey, [](QWidget* owner) {
        auto dialog = std::make_unique<QFileDialog>(owner);
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
        dialog->setNameFilters({tr("Recipes (*.ini)"), tr("All files (*)")});
        const QString folder = Settings()->value(LastRecipeFolderKey).toString();
        if (!folder.isEmpty() && QFileInfo(folder).isDir()) dialog->setDirectory(folder);
        return dialog;
    });
}

void OperatorDialogs::AskToConfirm(QWidget* parent, const QString& question, const QString& yes,
                                   const QString& no, const std::function<void(bool)>& answer) {
    if (script_) {
        script_->questions << question;
        const bool confirmed =
            !script_->confirmAnswers.isEmpty() && script_->confirmAnswers.takeFirst();
        // Answered from the event loop, as the operator's click would be.
        QTimer::singleShot(0, parent, [answer, confirmed] { answer(confirmed); });
        return;
    }
    auto* box = MakeMessageBox(parent, question).release();
    box->setStandardButtons(QMessageBox::NoButton);
    QPushButton* confirm = box->addButton(yes, QMessageBox::AcceptRole);
    QPushButton* cancel = box->addButton(no, QMessageBox::RejectRole);
    // A button sizes itself to its caption's advance in whole pixels; the window font's
    // fractional advance, and a glyph's ink past it, need a little more.
    for (QPushButton* button : {confirm, cancel})
        button->setMinimumWidth(button->sizeHint().width() +
                                button->fontMetrics().averageCharWidth());
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, confirm, answer](int) { answer(box->clickedButton() == confirm); });
    box->open();
}

}  // namespace morven
