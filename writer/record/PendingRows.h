#pragma once

#include <QJsonObject>
#include <QString>
#include <functional>

namespace morven {

// Write ends whose rows in the line's issue log could not be updated (the database went away
// during the write), kept on the disk, one JSON object a line, until a later run updates them.
// Every change happens under a lock on PATH.lock, so that runs at once neither lose nor repeat
// a row.
class PendingRows {
public:
    explicit PendingRows(QString path) : path_(std::move(path)) {}

    // Keeps row, on the disk when this returns true; else why not in error.
    bool Add(const QJsonObject& row, QString* error) const;

    // Offers each kept row to update, which says why not when it could not update it; keeps
    // only those. stop() true ends the wait for another run's lock.
    struct Outcome {
        int updated = 0;
        int kept = 0;
        QString problem;  // the first reason a row was kept, or why the file cannot be used
    };
    Outcome Update(const std::function<QString(const QJsonObject&)>& update,
                   const std::function<bool()>& stop) const;

    const QString& Path() const { return path_; }

private:
    QString path_;
};

}  // namespace morven
