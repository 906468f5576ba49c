#include "UnitNumberStateFile.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <limits>

#include "LockFile.h"
#include "UnitNumberList.h"
#include "UnitNumberState.h"
#include "UnitNumberStateFiles.h"
#include "record/DurableFile.h"
#include "record/WriteRecord.h"

namespace morven {

namespace {

constexpr quint64 Unlimited = std::numeric_limits<quint64>::max();

QString ListChanged(const UnitNumberRule& rule, const UnitNumberState& state,
                    const UnitNumberList& list, const UnitNumberStateFiles& files) {
    const QString head = QStringLiteral("the list ") + rule.listPath +
                         QStringLiteral(" is not the one its state ") + rule.statePath +
                         QStringLiteral(" handed %1 values out from: ").arg(state.taken);
    const QString tail = QStringLiteral(
        ". A list may only be appended to; a new batch under the same name needs a state of its "
        "own");
    const QHash<qint64, QString> issued = files.IssuedFromList();
    const qsizetype compared =
        qsizetype(std::min<quint64>(state.taken, quint64(list.values.size())));
    for (qsizetype k = 0; k < compared; ++k) {
        const auto was = issued.constFind(k + 1);
        if (was != issued.constEnd() && *was != list.values[k].text)
            return head +
                   QStringLiteral("its line %1 reads \"%2\" where \"%3\" was handed out")
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
    UnitNumberState state;
    UnitNumberList list;
    bool fresh = false;
};

// Why a state that is not there cannot start anew, or empty: values were handed out from it
// (its issue log says so), or the previous release kept it elsewhere.
QString NoStart(const UnitNumberRule& rule, const UnitNumberStateFiles& files) {
    const QString log = UnitNumberStateFile::IssueLogPath(rule.statePath);
    if (files.IssueLogHoldsValues())
        return QStringLiteral("the serial state ") + rule.statePath +
               QStringLiteral(" does not exist, and its issue log ") + log +
               QStringLiteral(
                   " holds the values handed out from it: it is never started again. Restore "
                   "the state from a backup (the issue log's last value says where it stood)");
    const QString former = rule.formerStatePath;
    if (former.isEmpty() || !QFileInfo::exists(former)) return {};
    return QStringLiteral("the serial state ") + rule.statePath +
           QStringLiteral(" does not exist, and the previous release's state of this recipe, ") +
           former +
           QStringLiteral(
               ", stands beside the recipe: it is never started again. Move its files there "
               "first (mv %1 %2; mv %1.issued %2.issued; mv %1.lock %2.lock)")
               .arg(former, rule.statePath);
}

// Why the rule's state cannot go on, or empty: a state of the previous release still beside
// this recipe went further (two copies of a recipe kept two counters), so values between them
// would go out again.
QString BehindFormer(const UnitNumberRule& rule, const UnitNumberState& state) {
    if (rule.formerStatePath.isEmpty() || !QFileInfo::exists(rule.formerStatePath)) return {};
    const UnitNumberStateFiles files(rule.formerStatePath);
    const auto read = files.ReadState();
    const auto* former = std::get_if<std::optional<UnitNumberState>>(&read);
    if (former && (!*former || !(*former)->SameRule(rule) || !(*former)->Beyond(state))) return {};
    return QStringLiteral("the previous release's state of this recipe, ") + rule.formerStatePath +
           QStringLiteral(" (") +
           (former && *former ? (*former)->Progress() : QStringLiteral("unreadable")) +
           QStringLiteral("), went further than the rule's state ") + rule.statePath +
           QStringLiteral(" (") + state.Progress() +
           QStringLiteral(
               "): the values between would go out twice. Keep the one that went further "
               "(mv %1 %2; cat %1.issued >> %2.issued; rm %1.issued %1.lock)")
               .arg(rule.formerStatePath, rule.statePath);
}

std::variant<Standing, QString> Stand(const UnitNumberRule& rule,
                                      const UnitNumberStateFiles& files) {
    if (files.Folder() < 0 && !files.Missing())
        return QStringLiteral("the serial state's folder ") + files.FolderPath() +
               QStringLiteral(" cannot be read (") + files.Error() + QStringLiteral(")");
    auto read = files.ReadState();
    if (const auto* why = std::get_if<QString>(&read)) return *why;
    const auto& recorded = std::get<std::optional<UnitNumberState>>(read);
    if (!recorded)
        if (const QString why = NoStart(rule, files); !why.isEmpty()) return why;
    Standing standing{recorded.value_or(UnitNumberState::Start(rule)), {}, !recorded};
    if (recorded && !recorded->SameRule(rule))
        return QStringLiteral("the serial state ") + rule.statePath +
               QStringLiteral(" was started for ") + recorded->rule.Text() + QStringLiteral(" (") +
               recorded->Progress() + QStringLiteral("), not for ") + rule.Text() +
               QStringLiteral(
                   ". It is never continued under another rule: a new product needs a state of "
                   "its own (a recipe's [serial] state, or --serial-state)");
    if (recorded)
        if (const QString why = BehindFormer(rule, *recorded); !why.isEmpty()) return why;
    if (rule.listPath.isEmpty()) return standing;
    auto list = UnitNumberList::Read(rule.listPath, rule.format);
    if (const auto* why = std::get_if<QString>(&list)) return *why;
    standing.list = std::get<UnitNumberList>(std::move(list));
    const UnitNumberState& state = standing.state;
    if (state.taken > quint64(standing.list.values.size()) ||
        standing.list.Sha256Of(qsizetype(state.taken)) != state.takenSha256)
        return ListChanged(rule, state, standing.list, files);
    return standing;
}

// The station's folder is the package's: a run never makes it, with whatever owner and mode.
QString NoStationFolder(const QString& statePath) {
    const QString folder = QFileInfo(statePath).absolutePath();
    if (folder != StationStateFolder() || QFileInfo(folder).isDir()) return {};
    return QStringLiteral("the station's folder of serial states, ") + folder +
           QStringLiteral(
               ", does not exist: the package makes it (group morven, mode 2775), or the "
               "recipe's [serial] state names another place");
}

std::optional<WriteRefusal> NotHeld(const LockFile& lock, const QString& path) {
    if (lock.Stopped()) return WriteRefusal{WriteOutcome::Cancelled, {}};
    if (lock.Held()) return std::nullopt;
    return UnitNumberRefusal(QStringLiteral("the lock ") + path +
                             QStringLiteral(" cannot be taken: ") + lock.Error());
}

quint64 CounterLeft(const UnitNumberState& state) {
    if (!state.next) return 0;
    const quint64 steps = (state.rule.format.Largest() - *state.next) / state.rule.step;
    return steps == Unlimited ? Unlimited : steps + 1;
}

QByteArray IssueLines(const QList<UnitNumber>& values, const QStringList& ports,
                      const IssueContext& context, const UnitNumberState& before) {
    const QString time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    QByteArray lines;
    for (qsizetype k = 0; k < values.size(); ++k) {
        QJsonObject entry{{"value", values[k].text},
                          {"port", ports.value(k)},
                          {"time", time},
                          {"host", context.host},
                          {"user", context.user}};
        if (context.recipePath.isEmpty()) {
            entry.insert("command", context.command);
        } else {
            entry.insert("recipe", context.recipePath);
            entry.insert("recipe_sha256", QString::fromLatin1(context.recipeSha256));
            if (!context.recipeSigner.isEmpty())
                entry.insert("recipe_signer", context.recipeSigner);
        }
        if (!before.rule.listPath.isEmpty())
            entry.insert("list_position", qint64(before.taken) + k + 1);
        lines += QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    }
    return lines;
}

}  // namespace

QString UnitNumberStateFile::LockPath(const QString& statePath) {
    return statePath + QStringLiteral(".lock");
}

QString UnitNumberStateFile::IssueLogPath(const QString& statePath) {
    return statePath + QStringLiteral(".issued");
}

std::variant<QList<UnitNumber>, WriteRefusal> UnitNumberStateFile::Take(const UnitNumberRule& rule,
                                                                        const QStringList& ports,
                                                                        const IssueContext& context,
                                                                        const TakeWait& wait) {
    if (const QString why = NoStationFolder(rule.statePath); !why.isEmpty())
        return UnitNumberRefusal(why);
    // STATE.lock, as the previous release takes it. It alone cannot hold: deleted under its
    // holder, it is made anew by the next run, which then locks that one. The folder cannot be
    // unlinked while it holds the state, so its lock is the one no one can take twice; and
    // every file is read and moved through it, so a folder moved away meanwhile is no other.
    const QString folder = QFileInfo(rule.statePath).absolutePath();
    const LockFile lock(LockPath(rule.statePath), wait);
    if (const auto refused = NotHeld(lock, LockPath(rule.statePath))) return *refused;
    const LockFile folderLock(folder, wait, LockFile::Kind::Folder);
    if (const auto refused = NotHeld(folderLock, folder)) return *refused;
    const UnitNumberStateFiles files(rule.statePath, folderLock.Descriptor());
    auto stood = Stand(rule, files);
    if (const auto* why = std::get_if<QString>(&stood)) return UnitNumberRefusal(*why);
    const Standing& standing = std::get<Standing>(stood);
    UnitNumberState after = standing.state;
    const qsizetype count = ports.size();
    QList<UnitNumber> values;
    if (rule.listPath.isEmpty()) {
        if (CounterLeft(after) < quint64(count))
            return UnitNumberRefusal(
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
            return UnitNumberRefusal(
                QStringLiteral("the list ") + rule.listPath +
                QStringLiteral(" is used up: %1 of its %2 values left, %3 needed")
                    .arg(left)
                    .arg(standing.list.values.size())
                    .arg(count));
        values = standing.list.values.mid(taken, count);
        after.taken += quint64(count);
        after.takenSha256 = standing.list.Sha256Of(taken + count);
    }
    const auto replace = [&](const UnitNumberState& state) {
        const QString failed =
            ReplaceDurablyIn(files.Folder(), files.FolderPath(), files.Name(), state.Text());
        return failed.isEmpty() ? failed
                                : QStringLiteral("the serial state ") + rule.statePath +
                                      QStringLiteral(" cannot be replaced: ") + failed;
    };
    // A first take is on the disk as a start before its values are on record: cut short, it
    // leaves a state to go on from, never a missing one beside an issue log, which is refused.
    if (standing.fresh)
        if (const QString failed = replace(standing.state); !failed.isEmpty())
            return UnitNumberRefusal(failed);
    // On record before the state moves: a value handed out is never without its trace.
    files.MakeIssueLogShared();
    QString error;
    if (!AppendToWriteLog(files.IssueLogReached(),
                          IssueLines(values, ports, context, standing.state), &error))
        return UnitNumberRefusal(QStringLiteral("the issue log ") + IssueLogPath(rule.statePath) +
                                 QStringLiteral(" cannot be written: ") + error);
    if (const QString failed = replace(after); !failed.isEmpty()) return UnitNumberRefusal(failed);
    return values;
}

std::variant<UnitNumberStock, WriteRefusal> UnitNumberStateFile::Stock(const UnitNumberRule& rule) {
    if (const QString why = NoStationFolder(rule.statePath); !why.isEmpty())
        return UnitNumberRefusal(why);
    const UnitNumberStateFiles files(rule.statePath);
    auto stood = Stand(rule, files);
    if (const auto* why = std::get_if<QString>(&stood)) return UnitNumberRefusal(*why);
    const Standing& standing = std::get<Standing>(stood);
    UnitNumberStock stock;
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
