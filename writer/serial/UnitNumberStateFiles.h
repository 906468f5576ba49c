#pragma once

#include <QHash>
#include <QString>
#include <optional>
#include <variant>

#include "UnitNumberState.h"

namespace morven {

// The files of one unit-number state (STATE, STATE.issued), reached through a descriptor of their
// folder: a take reads and moves them in the folder it locked, wherever that folder is moved
// meanwhile, never in one made anew at its path.
class UnitNumberStateFiles {
public:
    // The folder of statePath, opened; Error() says why not (ENOENT: Missing()).
    explicit UnitNumberStateFiles(const QString& statePath);
    // Those of statePath in the folder already open as folderFd, which stays its owner's.
    UnitNumberStateFiles(const QString& statePath, int folderFd);
    ~UnitNumberStateFiles();
    UnitNumberStateFiles(const UnitNumberStateFiles&) = delete;
    UnitNumberStateFiles& operator=(const UnitNumberStateFiles&) = delete;

    bool Missing() const { return missing_; }
    const QString& Error() const { return error_; }
    int Folder() const { return folder_; }
    const QString& FolderPath() const { return folderPath_; }
    const QString& Name() const { return name_; }
    // STATE.issued as a path through the folder's descriptor, for the code that appends to it.
    QString IssueLogReached() const;

    // Makes STATE.issued when it is missing, writable by the folder's group as well, whatever
    // the umask: every operator of a shared folder appends to it.
    void MakeIssueLogShared() const;
    // The state; nullopt when there is none at all; or why it cannot be read.
    std::variant<std::optional<UnitNumberState>, QString> ReadState() const;
    // Whether STATE.issued holds anything: values were handed out from this state.
    bool IssueLogHoldsValues() const;
    // The values handed out from a list, by their place in it, as the issue log has them.
    QHash<qint64, QString> IssuedFromList() const;

private:
    int OpenToRead(const QString& suffix) const;

    int folder_ = -1;
    bool owned_ = false;
    bool missing_ = false;
    QString error_;
    QString folderPath_;
    QString name_;
};

}  // namespace morven
