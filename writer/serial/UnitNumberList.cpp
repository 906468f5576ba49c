#include "UnitNumberList.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHash>
#include <QRegularExpression>

namespace morven {

namespace {

// A list is read whole: far more values than any production run.
constexpr qint64 ListFileLimit = qint64(16) << 20;

}  // namespace

std::variant<UnitNumber, QString> UnitNumberList::Value(const UnitNumberFormat& format,
                                                        const QString& line) {
    if (format.kind == UnitNumberFormat::Kind::Bytes) {
        QString digits = line;
        digits.remove(QRegularExpression(QStringLiteral("[:\\-\\s]")));
        const QByteArray bytes = QByteArray::fromHex(digits.toLatin1());
        const bool hex =
            QRegularExpression(QStringLiteral("^[0-9A-Fa-f]*$")).match(digits).hasMatch();
        if (!hex || digits.size() != 2 * format.width)
            return QStringLiteral("is not %1 bytes in hex").arg(format.width);
        return UnitNumber{line, bytes};
    }
    bool ok = false;
    const bool hex = line.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive);
    const quint64 value = hex ? line.mid(2).toULongLong(&ok, 16) : line.toULongLong(&ok, 10);
    if (!ok) return QStringLiteral("is not a number");
    if (value > format.Largest()) return QStringLiteral("does not fit the format");
    return CounterValue(format, value);
}

std::variant<UnitNumberList, QString> UnitNumberList::Read(const QString& path,
                                                           const UnitNumberFormat& format) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("the list ") + path + QStringLiteral(" cannot be read: ") +
               file.errorString();
    const QByteArray text = file.read(ListFileLimit + 1);
    if (text.size() > ListFileLimit)
        return QStringLiteral("the list ") + path + QStringLiteral(" is larger than 16 MiB");
    UnitNumberList list;
    QHash<QByteArray, int> seen;  // a value's bytes, and the line it first stood on
    int number = 0;
    for (const QByteArray& raw : text.split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        auto value = Value(format, line);
        if (const auto* problem = std::get_if<QString>(&value))
            return QStringLiteral("line %1 of the list %2, \"%3\", ").arg(number).arg(path, line) +
                   *problem;
        const UnitNumber& parsed = std::get<UnitNumber>(value);
        if (const auto first = seen.constFind(parsed.bytes); first != seen.constEnd())
            return QStringLiteral(
                       "the list %1 holds one value twice: line %2 (\"%3\") and line "
                       "%4 (\"%5\")")
                .arg(path)
                .arg(*first)
                .arg(list.values[list.lines.indexOf(*first)].text)
                .arg(number)
                .arg(line);
        seen.insert(parsed.bytes, number);
        list.values << parsed;
        list.lines << number;
    }
    return list;
}

QByteArray UnitNumberList::Sha256Of(qsizetype count) const {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (qsizetype k = 0; k < count && k < values.size(); ++k)
        hash.addData((values[k].text + QLatin1Char('\n')).toUtf8());
    return hash.result().toHex();
}

}  // namespace morven
