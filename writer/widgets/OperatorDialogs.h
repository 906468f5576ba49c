#pragma once

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QFileDialog;
class QMessageBox;
class QSettings;
class QWidget;

namespace morven {

// Every modal window the operator sees goes through here, so that a test can answer instead.
class OperatorDialogs {
    Q_DECLARE_TR_FUNCTIONS(OperatorDialogs)

public:
    // A modal message box captioned "MORVEN" with an OK button only; details, when given, behind
    // its "Show Details..." button.
    static void ShowMessage(QWidget* parent, const QString& text, const QString& details = {});
    // The message box ShowMessage shows, not yet shown.
    static std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const QString& text,
                                                       const QString& details = {});
    // The S-record file dialog; no path when it was cancelled or failed. The folder of the file
    // chosen is remembered across runs, and the next dialog opens there.
    static std::optional<QString> ChooseSRecordFile(QWidget* parent);
    // The dialog ChooseSRecordFile shows, configured but not yet shown.
    static std::unique_ptr<QFileDialog> MakeSRecordDialog(QWidget* parent);
    // A station's recipe file, which must exist; no path when the choice was cancelled.
    static std::optional<QString> ChooseRecipeFile(QWidget* parent);
    // Asks, without blocking, whether to go on with something that cannot be undone: the box is
    // modal to parent alone, so the writes and timers of the parent's event loop go on while it
    // waits. answer(true) when the operator chose yes (the button labelled yes); the safe
    // answer, no, is the default, and Esc gives it.
    static void AskToConfirm(QWidget* parent, const QString& question, const QString& yes,
                             const QString& no, const std::function<void(bool)>& answer);

    // Where the user's choices are kept (~/.config/morven/morven.conf on Linux).
    static std::unique_ptr<QSettings> Settings();

    // Test seam: while scripted, messages are recorded instead of shown, and file choices take
    // the next queued answer (a cancel when none is queued).
    struct Script {
        QStringList messages;
        QStringList details;  // each message's, "" when it has none
        QList<std::optional<QString>> fileAnswers;
        int fileRequests = 0;
        QStringList questions;
        QList<bool> confirmAnswers;  // no when none is queued
    };
    static void UseScript(Script* script) { script_ = script; }

private:
    using DialogMaker = std::function<std::unique_ptr<QFileDialog>(QWidget*)>;
    // A file chosen in the dialog make gives, or the script's answer; its folder is remembered
    // under folderKey.
    static std::optional<QString> ChooseFile(QWidget* parent, const QString& folderKey,
                                             const DialogMaker& make);

    static inline Script* script_ = nullptr;
};

}  // namespace morven
