#include "OperatorDialogs.h"

#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>

#include "WindowFont.h"

namespace morven {

void OperatorDialogs::ShowMessage(QWidget* parent, const QString& text) {
    if (script_) {
        script_->messages << text;
        return;
    }
    const auto box = MakeMessageBox(parent, text);
    box->exec();
}

std::unique_ptr<QMessageBox> OperatorDialogs::MakeMessageBox(QWidget* parent, const QString& text) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, QStringLiteral("MORVEN"), text,
                                             QMessageBox::Ok, parent);
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
    return dialog;
}

std::optional<QString> OperatorDialogs::ChooseSRecordFile(QWidget* parent) {
    if (script_) {
        ++script_->fileRequests;
        return script_->fileAnswers.isEmpty() ? std::nullopt : script_->fileAnswers.takeFirst();
    }
    const auto dialog = MakeSRecordDialog(parent);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    return dialog->selectedFiles().constFirst();
}

}  // namespace morven
