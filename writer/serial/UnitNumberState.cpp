#include "UnitNumberState.h"

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include "UnitNumberList.h"

namespace morven {

namespace {

constexpr const char* Heading =
    "# morven-cli's serial numbers: replaced whole under its .lock; never edited by hand\n";

std::optional<quint64> Number(const QByteArray& text) {
    bool ok = false;
    const quint64 value =
        text.startsWith("0x") ? text.mid(2).toULongLong(&ok, 16) : text.toULongLong(&ok, 10);
    return ok ? std::optional(value) : std::nullopt;
}

}  // namespace

UnitNumberState UnitNumberState::Start(const UnitNumberRule& rule) {
    UnitNumberState state;
    state.rule = rule;
    state.rule.listPath = QFileInfo(rule.listPath).fileName();
    state.rule.statePath.clear();
    if (rule.listPath.isEmpty() && rule.start <= rule.format.Largest()) state.next = rule.start;
    if (!rule.listPath.isEmpty()) state.takenSha256 = UnitNumberList().Sha256Of(0);
    return state;
}

std::variant<UnitNumberState, QString> UnitNumberState::Parse(const QByteArray& text) {
    QHash<QByteArray, QByteArray> fields;
    bool ended = false;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty() || line.startsWith('#')) continue;
        if (ended) return QStringLiteral("it goes on after \"end\"");
        if (line == "end") {
            ended = true;
            continue;
        }
        const qsizetype space = line.indexOf(' ');
        if (space <= 0) return QStringLiteral("a line without a value");
        fields.insert(line.left(space), line.mid(space + 1));
    }
    if (!ended) return QStringLiteral("it lacks its last line, \"end\"");
    UnitNumberState state;
    const auto address = Number(fields.value("address"));
    auto format = UnitNumberFormat::Parse(QString::fromLatin1(fields.value("format")));
    if (!address || *address >= 0x60000 || !std::holds_alternative<UnitNumberFormat>(format))
        return QStringLiteral("no address or format");
    state.rule.address = std::uint32_t(*address);
    state.rule.format = std::get<UnitNumberFormat>(format);
    if (fields.contains("list")) {
        state.rule.listPath = QString::fromUtf8(fields.value("list"));
        const auto taken = Number(fields.value("taken"));
        state.takenSha256 = fields.value("taken_sha256");
        if (!taken || !QRegularExpression(QStringLiteral("^[0-9a-f]{64}$"))
                           .match(QString::fromLatin1(state.takenSha256))
                           .hasMatch())
            return QStringLiteral("a list's state without taken and taken_sha256");
        state.taken = *taken;
        return state;
    }
    const auto start = Number(fields.value("start"));
    const auto step = Number(fields.value("step"));
    const QByteArray next = fields.value("next");
    if (!start || !step || *step == 0 || next.isEmpty())
        return QStringLiteral("a counter's state without start, step and next");
    state.rule.start = *start;
    state.rule.step = *step;
    if (next != "none") {
        state.next = Number(next);
        if (!state.next) return QStringLiteral("next is no number");
        // Laid into the image, a number past the format would wrap onto a value handed out.
        if (*state.next > state.rule.format.Largest())
            return QStringLiteral("next does not fit the format");
    }
    return state;
}

QByteArray UnitNumberState::Text() const {
    QByteArray text = QByteArray(Heading) + "address 0x" + QByteArray::number(rule.address, 16) +
                      "\nformat " + rule.format.Text().toLatin1() + '\n';
    if (!rule.listPath.isEmpty())
        return text + "list " + rule.listPath.toUtf8() + "\ntaken " + QByteArray::number(taken) +
               "\ntaken_sha256 " + takenSha256 + "\nend\n";
    return text + "start " + QByteArray::number(rule.start) + "\nstep " +
           QByteArray::number(rule.step) + "\nnext " +
           (next ? QByteArray::number(*next) : QByteArray("none")) + "\nend\n";
}

bool UnitNumberState::SameRule(const UnitNumberRule& other) const {
    const bool counter = other.listPath.isEmpty();
    return rule.address == other.address && rule.format.kind == other.format.kind &&
           rule.format.width == other.format.width &&
           rule.listPath == QFileInfo(other.listPath).fileName() &&
           (!counter || (rule.start == other.start && rule.step == other.step));
}

bool UnitNumberState::Beyond(const UnitNumberState& other) const {
    if (!rule.listPath.isEmpty()) return taken > other.taken;
    // No next value: the last one is handed out, beyond every other.
    return other.next && (!next || *next > *other.next);
}

QString UnitNumberState::Progress() const {
    if (!rule.listPath.isEmpty())
        return QStringLiteral("%1 values of %2 taken").arg(taken).arg(rule.listPath);
    return next ? QStringLiteral("next value %1").arg(*next)
                : QStringLiteral("its last value is handed out");
}

}  // namespace morven
