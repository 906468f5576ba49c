#include "SerialStateFile.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <limits>

#include "DurableFile.h"
#include "LockFile.h"
#include "SerialList.h"
#include "SerialState.h"
#include "WriteRecord.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

namespace morven {

namespace {

constexpr quint64 Unlimited = std::numeric_limits<quint64>::max();
// A state is a few short lines; the issue log is read only to explain a changed list.
constexpr qint64 StateFileLimit = 4096;
constexpr qint64 IssueLogLimit = qint64(64) << 20;

QString Unusable(const QString& path, const QString& why) {
    return QStringLiteral("the serial state ") + path + QStringLiteral(" ") + why +
           QStringLiteral(
               ", and is never read as a new start: restore it from a backup (every value "
               "handed out is in ") +
           SerialStateFile::IssueLogPath(path) + QStringLiteral(")");
}

// The state on the disk; nullopt when there is none at all.
std::variant<std::optional<SerialState>, QString> ReadState(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::optional<SerialState>();
        return Unusable(path, QStringLiteral("cannot be read (") +
                                  QString::fromLocal8Bit(std::strerror(errno)) +
                                  QStringLiteral(")"));
    }
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const QByteArray text = file.read(StateFileLimit + 1);
    if (file.error() != QFileDevice::NoError)
        return Unusable(path, QStringLiteral("cannot be read (") + file.errorString() +
                                  QStringLiteral(")"));
    if (text.trimmed().isEmpty()) return Unusable(path, QStringLiteral("is empty"));
    if (text.size() > StateFileLimit) return Unusable(path, QStringLiteral("is garbled (too long)"));
    auto state = SerialState::Parse(text);
    if (const auto* why = std::get_if<QString>(&state))
        return Unusable(path, QStringLiteral("is garbled (") + *why + QStringLiteral(")"));
    return std::optional(std::get<SerialState>(state));
}

// The values handed out from a list, by their place in it, as the issue log has them.
QHash<qint64, QString> IssuedFromList(const QString& statePath) {
    QHash<qint64, QString> issued;
    QFile log(SerialStateFile::IssueLogPath(statePath));
    if (!log.open(QIODevice::ReadOnly)) return issued;
    for (const QByteArray& line : log.read(IssueLogLimit).split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (entry.contains(QLatin1String("list_position")))
            issued.insert(entry.value(QLatin1String("list_position")).toInteger(),
                          entry.value(QLatin1String("value")).toString());
    }
    return issued;
}

QString ListChanged(const SerialRule& rule, const SerialState& state, const SerialList& list) {
    const QString head = QStringLiteral("the list ") + rule.listPath +
                         QStringLiteral(" is not the one its state ") + rule.statePath +
                         QStringLiteral(" handed %1 values out from: ").arg(state.taken);
    const QString tail = QStringLiteral(
        ". A list may only be appended to; a new batch under the same name needs a state of its "
        "own");
    const QHash<qint64, QString> issued = IssuedFromList(rule.statePath);
    const qsizetype compared = qsizetype(std::min<quint64>(state.taken, quint64(list.values.size())));
    for (qsizetype k = 0; k < compared; ++k) {
        const auto was = issued.constFind(k + 1);
        if (was != issued.constEnd() && *was != list.values[k].text)
            return head + QStringLiteral("its line %1 reads \"%2\" where \"%3\" was handed out")
                              .arg(list.lines[k])
                              .arg(list.values[k].text, *was) +
                   tail;
    }
    if (quint64(list.values.size()) < state.taken)
        return head + QStringLiteral("it holds only %1").arg(list.values.size()) + tail;
    return head + QStringLiteral("the SHA-256 of its first %1 values differs").arg(state.taken) +
           tail;
}

// Where a rule's values stand now: its state (a start when none exists) and, for a list rule,
// the list, checked against what the state handed out.
struct Standing {
    SerialState state;
    SerialList list;
    bool fresh = false;
};

std::variant<Standing, QString> Stand(const SerialRule& rule) {
    auto read = ReadState(rule.statePath);
    if (const auto* why = std::get_if<QString>(&read)) return *why;
    const auto& recorded = std::get<std::optional<SerialState>>(read);
    Standing standing{recorded.value_or(SerialState::Start(rule)), {}, !recorded};
    if (recorded && !recorded->SameRule(rule))
        return QStringLiteral("the serial state ") + rule.statePath +
               QStringLiteral(" was started for ") + recorded->rule.Text() +
               QStringLiteral(" (") + recorded->Progress() + QStringLiteral("), not for ") +
               rule.Text() +
               QStringLiteral(
                   ". It is never continued under another rule: a new product needs a state of "
                   "its own (a recipe's [serial] state, or --serial-state)");
    if (rule.listPath.isEmpty()) return standing;
    auto list = SerialList::Read(rule.listPath, rule.format);
    if (const auto* why = std::get_if<QString>(&list)) return *why;
    standing.list = std::get<SerialList>(std::move(list));
    const SerialState& state = standing.state;
    if (state.taken > quint64(standing.list.values.size()) ||
        standing.list.Sha256Of(qsizetype(state.taken)) != state.takenSha256)
        return ListChanged(rule, state, standing.list);
    return standing;
}

quint64 CounterLeft(const SerialState& state) {
    if (!state.next) return 0;
    const quint64 steps = (state.rule.format.Largest() - *state.next) / state.rule.step;
    return steps == Unlimited ? Unlimited : steps + 1;
}

QByteArray IssueLines(const QList<SerialValue>& values, const QStringList& ports,
                      const IssueContext& context, const SerialState& before) {
    const QString time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    QByteArray lines;
    for (qsizetype k = 0; k < values.size(); ++k) {
        QJsonObject entry{{"value", values[k].text}, {"port", ports.value(k)}, {"time", time},
                          {"host", context.host},    {"user", context.user}};
        if (context.recipePath.isEmpty()) {
            entry.insert("command", context.command);
        } else {
            entry.insert("recipe", context.recipePath);
            entry.insert("recipe_sha256", QString::fromLatin1(context.recipeSha256));
            if (!context.recipeSigner.isEmpty()) entry.insert("recipe_signer", context.recipeSigner);
        }
        if (!before.rule.listPath.isEmpty())
            entry.insert("list_position", qint64(before.taken) + k + 1);
        lines += QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    }
    return lines;
}

}  // namespace

QString SerialStateFile::LockPath(const QString& statePath) {
    return statePath + QStringLiteral(".lock");
}

QString SerialStateFile::IssueLogPath(const QString& statePath) {
    return statePath + QStringLiteral(".issued");
}

std::variant<QList<SerialValue>, WriteRefusal> SerialStateFile::Take(const SerialRule& rule,
                                                                     const QStringList& ports,
                                                                     const IssueContext& context,
                                                                     const TakeWait& wait) {
    const LockFile lock(LockPath(rule.statePath), wait);
    if (lock.Stopped()) return WriteRefusal{WriteOutcome::Cancelled, {}};
    if (!lock.Held())
        return SerialRefusal(QStringLiteral("the lock ") + LockPath(rule.statePath) +
                             QStringLiteral(" cannot be taken: ") + lock.Error());
    auto stood = Stand(rule);
    if (const auto* why = std::get_if<QString>(&stood)) return SerialRefusal(*why);
    const Standing& standing = std::get<Standing>(stood);
    SerialState after = standing.state;
    const qsizetype count = ports.size();
    QList<SerialValue> values;
    if (rule.listPath.isEmpty()) {
        if (CounterLeft(after) < quint64(count))
            return SerialRefusal(
                QStringLiteral("the counter in %1 has run out: %2 values needed, %3 left (%4)")
                    .arg(rule.statePath)
                    .arg(count)
                    .arg(CounterLeft(after))
                    .arg(after.Progress()));
        for (qsizetype k = 0; k < count; ++k) {
            values << CounterValue(rule.format, *after.next);
            quint64 next = 0;
            // The last value the format holds is handed out once; after it, none is left.
            if (__builtin_add_overflow(*after.next, rule.step, &next) ||
                next > rule.format.Largest())
                after.next.reset();
            else
                after.next = next;
        }
    } else {
        const qsizetype taken = qsizetype(after.taken);
        const qsizetype left = standing.list.values.size() - taken;
        if (left < count)
            return SerialRefusal(QStringLiteral("the list ") + rule.listPath +
                                 QStringLiteral(" is used up: %1 of its %2 values left, %3 needed")
                                     .arg(left)
                                     .arg(standing.list.values.size())
                                     .arg(count));
        values = standing.list.values.mid(taken, count);
        after.taken += quint64(count);
        after.takenSha256 = standing.list.Sha256Of(taken + count);
    }
    // On record before the state moves: a value handed out is never without its trace.
    QString error;
    if (!AppendToWriteLog(IssueLogPath(rule.statePath),
                          IssueLines(values, ports, context, standing.state), &error))
        return SerialRefusal(QStringLiteral("the issue log ") + IssueLogPath(rule.statePath) +
                             QStringLiteral(" cannot be written: ") + error);
    if (const QString failed = ReplaceDurably(rule.statePath, after.Text()); !failed.isEmpty())
        return SerialRefusal(QStringLiteral("the serial state ") + rule.statePath +
                             QStringLiteral(" cannot be replaced: ") + failed);
    return values;
}

std::variant<SerialStock, WriteRefusal> SerialStateFile::Stock(const SerialRule& rule) {
    auto stood = Stand(rule);
    if (const auto* why = std::get_if<QString>(&stood)) return SerialRefusal(*why);
    const Standing& standing = std::get<Standing>(stood);
    SerialStock stock;
    stock.fresh = standing.fresh;
    if (rule.listPath.isEmpty()) {
        stock.left = CounterLeft(standing.state);
        if (standing.state.next) stock.next = QString::number(*standing.state.next);
        return stock;
    }
    const qsizetype taken = qsizetype(standing.state.taken);
    stock.left = quint64(standing.list.values.size() - taken);
    if (stock.left > 0) stock.next = standing.list.values[taken].text;
    return stock;
}

}  // namespace morven
