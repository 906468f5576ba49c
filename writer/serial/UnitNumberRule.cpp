#include "UnitNumberRule.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <limits>

#include "record/WriteRecord.h"

namespace morven {

namespace {

constexpr quint64 Unlimited = std::numeric_limits<quint64>::max();

QByteArray NumberBytes(const UnitNumberFormat& format, quint64 value) {
    QByteArray bytes;
    switch (format.kind) {
        case UnitNumberFormat::Kind::LittleEndian:
            for (int k = 0; k < format.width; ++k) bytes.append(char((value >> (8 * k)) & 0xFF));
            break;
        case UnitNumberFormat::Kind::BigEndian:
            for (int k = format.width - 1; k >= 0; --k)
                bytes.append(char((value >> (8 * k)) & 0xFF));
            break;
        case UnitNumberFormat::Kind::Decimal:
            bytes = QByteArray::number(value).rightJustified(format.width, '0');
            break;
        case UnitNumberFormat::Kind::Hex:
            bytes = QByteArray::number(value, 16).toUpper().rightJustified(format.width, '0');
            break;
        case UnitNumberFormat::Kind::Bytes: break;
    }
    return bytes;
}

}  // namespace

std::variant<UnitNumberFormat, QString> UnitNumberFormat::Parse(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(':'));
    bool ok = false;
    const int width = parts.value(1).toInt(&ok);
    const QString kind = parts.value(0).toLower();
    const QString usage = QStringLiteral(
        "use le:N or be:N (N bytes, 1 to 8), dec:N or hex:N (N characters), bytes:N");
    if (parts.size() != 2 || !ok || width < 1) return usage;
    if (kind == QLatin1String("le") || kind == QLatin1String("be")) {
        if (width > 8) return QStringLiteral("a number takes 1 to 8 bytes");
        return UnitNumberFormat{kind == QLatin1String("le") ? Kind::LittleEndian : Kind::BigEndian,
                                width};
    }
    if (width > 64) return QStringLiteral("at most 64 characters or bytes");
    if (kind == QLatin1String("dec")) return UnitNumberFormat{Kind::Decimal, width};
    if (kind == QLatin1String("hex")) return UnitNumberFormat{Kind::Hex, width};
    if (kind == QLatin1String("bytes")) return UnitNumberFormat{Kind::Bytes, width};
    return usage;
}

QString UnitNumberFormat::Text() const {
    static const char* const names[] = {"le", "be", "dec", "hex", "bytes"};
    return QStringLiteral("%1:%2").arg(QLatin1String(names[int(kind)])).arg(width);
}

quint64 UnitNumberFormat::Largest() const {
    switch (kind) {
        case Kind::LittleEndian:
        case Kind::BigEndian: return width >= 8 ? Unlimited : (quint64(1) << (8 * width)) - 1;
        case Kind::Decimal: {
            quint64 largest = 1;
            for (int digit = 0; digit < width; ++digit) {
                if (largest > Unlimited / 10) return Unlimited;
                largest *= 10;
            }
            return largest - 1;
        }
        case Kind::Hex: return width >= 16 ? Unlimited : (quint64(1) << (4 * width)) - 1;
        case Kind::Bytes: return 0;
    }
    return 0;
}

QString UnitNumberRule::Text() const {
    QString text = QStringLiteral("address 0x%1, format %2").arg(address, 0, 16).arg(format.Text());
    if (!listPath.isEmpty())
        return text + QStringLiteral(", list ") + QFileInfo(listPath).fileName();
    return text + QStringLiteral(", start %1, step %2").arg(start).arg(step);
}

UnitNumber CounterValue(const UnitNumberFormat& format, quint64 value) {
    return {QString::number(value), NumberBytes(format, value)};
}

QString DefaultUnitNumberStatePath(const QString& listPath) {
    const QString folder = QFileInfo(DefaultWriteLogPath()).absolutePath();
    return folder + (listPath.isEmpty()
                         ? QStringLiteral("/serial-counter")
                         : QStringLiteral("/serial-list-") + QFileInfo(listPath).fileName());
}

QString StationStateFolder() { return QStringLiteral("/var/lib/morven"); }

QString StationUnitNumberStatePath(const UnitNumberRule& rule) {
    QString name;
    if (rule.listPath.isEmpty()) {
        name = QStringLiteral("counter-0x%1-%2-%3-step%4")
                   .arg(QString::number(rule.address, 16).toUpper(),
                        rule.format.Text().remove(QLatin1Char(':')))
                   .arg(rule.start)
                   .arg(rule.step);
    } else {
        // Only what reads plainly in a file name; a name changed by this is still told apart,
        // since the state keeps the list's own name and refuses another.
        name = QStringLiteral("list-") + QFileInfo(rule.listPath).fileName();
        static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._+-]"));
        name.replace(unsafe, QStringLiteral("_"));
    }
    return StationStateFolder() + QLatin1Char('/') + name + QStringLiteral(".serial-state");
}

QString CheckUnitNumberArea(const UnitNumberRule& rule, const LoadedImage& image) {
    const quint64 end = quint64(rule.address) + quint64(rule.format.Size());
    if (end > quint64(ImageSize))
        return QStringLiteral("the serial area 0x%1-0x%2 reaches beyond the flash (0x60000)")
            .arg(rule.address, 0, 16)
            .arg(end - 1, 0, 16);
    for (quint64 at = rule.address; at < end; ++at)
        if (image.TargetImage[at] != 0xFF)
            return QStringLiteral(
                       "the file holds data in the serial area 0x%1-0x%2 (0x%3 at 0x%4): "
                       "the area is reserved, so the address is wrong")
                .arg(rule.address, 0, 16)
                .arg(end - 1, 0, 16)
                .arg(image.TargetImage[at], 2, 16, QLatin1Char('0'))
                .arg(at, 0, 16);
    if (rule.format.kind == UnitNumberFormat::Kind::Bytes && rule.listPath.isEmpty())
        return QStringLiteral("bytes:N values come from a list (--serial-list)");
    return {};
}

}  // namespace morven
