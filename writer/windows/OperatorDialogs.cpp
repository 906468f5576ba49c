#include "OperatorDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace morven {

void OperatorDialogs::ShowMessage(QWidget* parent, const QString& text) {
    if (script_) {
        script_->messages << text;
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("MORVEN"), text, QMessageBox::Ok, parent);
    box.exec();
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
