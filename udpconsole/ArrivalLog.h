#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <variant>

namespace pellux {

// A file that received datagrams are appended to, a batch of whole lines in one write, so that
// a kill leaves whole lines only and another writer's lines never land inside ours.
class ArrivalLog {
public:
    // Opens FILE for appending, creating it. Otherwise why not, naming the file.
    static std::variant<std::unique_ptr<ArrivalLog>, QString> Open(const QString& path);
    ~ArrivalLog();
    ArrivalLog(const ArrivalLog&) = delete;
    ArrivalLog& operator=(const ArrivalLog&) = delete;

    QString Path() const { return path_; }
    // Appends whole lines. When the file takes no more for now (a pipe nobody empties), asks
    // waitForRoom, given the descriptor, whether to go on. An empty text when done, or when
    // waitForRoom gave up; else why not.
    QString Append(const QByteArray& lines, const std::function<bool(int)>& waitForRoom);

private:
    ArrivalLog(QString path, int fd, bool startsOnNewLine)
        : path_(std::move(path)), fd_(fd), startOnNewLine_(startsOnNewLine) {}

    QString path_;
    int fd_;
    // The file ended inside a line (cut by a power failure, or written by someone else): ours
    // start on a line of their own.
    bool startOnNewLine_;
};

}  // namespace pellux
