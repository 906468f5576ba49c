#include "Recipe.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryFile>

#include "PortChoice.h"
#include "serial/DatabaseConnection.h"

namespace morven {

namespace {

QString Resolve(const QString& folder, const QString& path) {
    return path.isEmpty() ? path : QDir(folder).absoluteFilePath(path);
}

// A misspelt section or key would leave a station's setting at a default without a word.
QString UnknownSetting(QSettings& recipe) {
    static const QHash<QString, QStringList> known{
        {QStringLiteral("image"), {"file", "sha256", "binary_at"}},
        {QStringLiteral("kernel"), {"file", "sha256"}},
        {QStringLiteral("station"), {"ports", "strict", "log"}},
        {QStringLiteral("serial"), {"address", "format", "start", "step", "list", "state"}},
    };
    if (!recipe.childKeys().isEmpty())
        return QStringLiteral("the key %1 outside any section").arg(recipe.childKeys().front());
    for (const QString& group : recipe.childGroups()) {
        if (!known.contains(group)) return QStringLiteral("an unknown section [%1]").arg(group);
        recipe.beginGroup(group);
        const QStringList keys = recipe.childKeys();
        const QStringList groups = recipe.childGroups();
        recipe.endGroup();
        for (const QString& key : keys)
            if (!known[group].contains(key))
                return QStringLiteral("an unknown key %1 in [%2]").arg(key, group);
        if (!groups.isEmpty())
            return QStringLiteral("an unknown key %1/… in [%2]").arg(groups.front(), group);
    }
    return {};
}

// A recipe is a few lines: the limit only bounds the read.
constexpr qint64 RecipeFileLimit = 64 * 1024;

bool IsSha256(const QString& text) {
    return QRegularExpression(QStringLiteral("^[0-9a-fA-F]{64}$")).match(text).hasMatch();
}

}  // namespace

std::optional<quint64> ParseNumber(const QString& text) {
    bool ok = false;
    const bool hex = text.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive);
    const quint64 value = hex ? text.mid(2).toULongLong(&ok, 16) : text.toULongLong(&ok, 10);
    if (!ok || text.trimmed() != text || text.startsWith(QLatin1Char('+'))) return std::nullopt;
    return value;
}

std::variant<UnitNumberRule, QString> MakeUnitNumberRule(
    const std::array<NamedSetting, 6>& settings, const QString& folder,
    const QString& defaultState) {
    const auto& [address, format, start, step, list, state] = settings;
    const auto bad = [](const NamedSetting& setting, const QString& why) {
        return QStringLiteral("bad ") + setting.name + QStringLiteral(" '") + setting.text +
               QStringLiteral("': ") + why;
    };
    UnitNumberRule rule;
    const auto at = ParseNumber(address.text);
    if (!at || *at >= 0x60000) return bad(address, QStringLiteral("an address below 0x60000"));
    rule.address = static_cast<std::uint32_t>(*at);
    if (!format.text.isEmpty()) {
        auto parsed = UnitNumberFormat::Parse(format.text);
        if (const auto* why = std::get_if<QString>(&parsed)) return bad(format, *why);
        rule.format = std::get<UnitNumberFormat>(parsed);
    }
    for (const auto& [setting, value] : {std::pair{&start, &rule.start}, {&step, &rule.step}}) {
        if (setting->text.isEmpty()) continue;
        const auto number = ParseNumber(setting->text);
        if (!number) return bad(*setting, QStringLiteral("a number, decimal or 0x…"));
        *value = *number;
    }
    if (rule.step == 0) return bad(step, QStringLiteral("a step of 0 hands one value out twice"));
    rule.listPath = Resolve(folder, list.text);
    // A database's URI names no password: a recipe, a command line or a message would show it.
    if (DatabaseConnection::HasPassword(state.text))
        return QStringLiteral("bad ") + state.name + QStringLiteral(" '") +
               DatabaseConnection::Shown(state.text) +
               QStringLiteral(
                   "': no password in the URI; libpq finds it in ~/.pgpass, "
                   "PGPASSFILE or a service file");
    rule.statePath = state.text.isEmpty()                    ? defaultState
                     : DatabaseConnection::IsUri(state.text) ? state.text
                                                             : Resolve(folder, state.text);
    if (rule.format.kind == UnitNumberFormat::Kind::Bytes && rule.listPath.isEmpty())
        return bad(format, QStringLiteral("bytes:N values come from a list"));
    // A list's values are its lines: a start or step would be silently ignored.
    for (const NamedSetting* counter : {&start, &step})
        if (!rule.listPath.isEmpty() && !counter->text.isEmpty())
            return bad(*counter, QStringLiteral("a counter's setting, and the values come from ") +
                                     list.name);
    if (rule.listPath.isEmpty() && rule.start > rule.format.Largest())
        return bad(
            start,
            QStringLiteral("beyond the format's largest value, %1").arg(rule.format.Largest()));
    return rule;
}

QString PreviousReleaseStatePath(const QString& recipePath) {
    const QFileInfo recipe(recipePath);
    return recipe.absolutePath() + QLatin1Char('/') + recipe.completeBaseName() +
           QStringLiteral(".serial-state");
}

std::variant<Recipe, QString> ReadRecipe(const QString& path) {
    const QFileInfo info(path);
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read the recipe ") + path;
    const QByteArray bytes = file.read(RecipeFileLimit + 1);
    if (bytes.size() > RecipeFileLimit)
        return QStringLiteral("the recipe ") + path + QStringLiteral(" is too long for a recipe");
    // Its settings are read from a copy of the bytes whose signature is checked: a file
    // replaced in between changes neither.
    QTemporaryFile copy;
    if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush())
        return QStringLiteral("cannot copy the recipe ") + path + QStringLiteral(": ") +
               copy.errorString();
    QSettings recipe(copy.fileName(), QSettings::IniFormat);
    if (recipe.status() != QSettings::NoError)
        return QStringLiteral("the recipe ") + path + QStringLiteral(" is not an INI file");
    if (const QString unknown = UnknownSetting(recipe); !unknown.isEmpty())
        return QStringLiteral("the recipe ") + path + QStringLiteral(" has ") + unknown +
               QStringLiteral(
                   " (known: [image] file, sha256, binary_at; [kernel] file, sha256; "
                   "[station] ports, strict, log; [serial] address, format, start, "
                   "step, list, state)");
    const QString folder = info.absolutePath();
    Recipe station;
    station.path = path;
    const auto text = [&recipe](const char* key) {
        return recipe.value(QString::fromLatin1(key)).toStringList().join(QLatin1Char(','));
    };
    for (const char* key : {"image/file", "image/sha256", "kernel/file", "kernel/sha256"})
        if (text(key).trimmed().isEmpty())
            return QStringLiteral("the recipe ") + path + QStringLiteral(" lacks ") +
                   QString::fromLatin1(key);
    for (const char* key : {"image/sha256", "kernel/sha256"})
        if (!IsSha256(text(key)))
            return QStringLiteral("bad ") + QString::fromLatin1(key) + QStringLiteral(" in ") +
                   path + QStringLiteral(": 64 hex digits, as --check prints them");
    station.firmware.path = Resolve(folder, text("image/file"));
    station.imageSha256 = text("image/sha256").toLower().toLatin1();
    station.kernelPath = Resolve(folder, text("kernel/file"));
    station.kernelSha256 = text("kernel/sha256").toLower().toLatin1();
    if (recipe.contains(QStringLiteral("image/binary_at"))) {
        const auto at = ParseNumber(text("image/binary_at"));
        if (!at || *at > 0xFFFFFFFFu)
            return QStringLiteral("bad image/binary_at in ") + path +
                   QStringLiteral(": an address");
        station.firmware.binaryAt = static_cast<std::uint32_t>(*at);
    }

    for (const QString& port : recipe.value(QStringLiteral("station/ports")).toStringList())
        if (!port.trimmed().isEmpty()) station.ports << port.trimmed();
    if (station.ports.isEmpty())
        return QStringLiteral("the recipe ") + path + QStringLiteral(" lacks station/ports");
    for (const QString& name : station.ports)
        if (const auto parsed = ParsePortArgument(name); std::holds_alternative<QString>(parsed))
            return QStringLiteral("station/ports in ") + path + QStringLiteral(": ") +
                   std::get<QString>(parsed);
    const QString strict = text("station/strict").trimmed().toLower();
    if (!strict.isEmpty() && strict != QLatin1String("true") && strict != QLatin1String("false"))
        return QStringLiteral("bad station/strict in ") + path + QStringLiteral(": true or false");
    station.strict = strict != QLatin1String("false");  // a station refuses warnings unless told
    if (recipe.contains(QStringLiteral("station/log")))
        station.logPath = Resolve(folder, text("station/log"));

    if (recipe.childGroups().contains(QStringLiteral("serial"))) {
        // A station's numbers are never left to defaults.
        for (const char* key : {"serial/address", "serial/format"})
            if (text(key).trimmed().isEmpty())
                return QStringLiteral("the recipe ") + path + QStringLiteral(" lacks ") +
                       QString::fromLatin1(key);
        if (text("serial/start").trimmed().isEmpty() && text("serial/list").trimmed().isEmpty())
            return QStringLiteral("the recipe ") + path +
                   QStringLiteral(" lacks serial/start (or serial/list)");
        const auto named = [&](const char* key) {
            return NamedSetting{
                QStringLiteral("[serial] ") + QString::fromLatin1(key) + QStringLiteral(" in ") +
                    path,
                text(
                    (QStringLiteral("serial/") + QString::fromLatin1(key)).toLatin1().constData())};
        };
        auto rule = MakeUnitNumberRule({named("address"), named("format"), named("start"),
                                        named("step"), named("list"), named("state")},
                                       folder, QString());
        if (const auto* problem = std::get_if<QString>(&rule)) return *problem;
        station.unitNumberRule = std::get<UnitNumberRule>(rule);
        // The numbers belong to the rule, not to this file's name: a copy goes on with them.
        if (station.unitNumberRule->statePath.isEmpty()) {
            station.unitNumberRule->statePath = StationUnitNumberStatePath(*station.unitNumberRule);
            station.unitNumberRule->formerStatePath = PreviousReleaseStatePath(path);
        }
    }
    station.text = bytes;
    station.release = CheckRecipeSignature(path, bytes);
    return station;
}

}  // namespace morven
