#include "Serialization.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <limits>
#include <optional>

#include "WriteRecord.h"

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace morven {

namespace {

constexpr quint64 Unlimited = std::numeric_limits<quint64>::max();
// A list is read whole: far more values than any production run.
constexpr qint64 ListFileLimit = qint64(16) << 20;

QByteArray NumberBytes(const SerialFormat& format, quint64 value) {
    QByteArray bytes;
    switch (format.kind) {
        case SerialFormat::Kind::LittleEndian:
            for (int k = 0; k < format.width; ++k) bytes.append(char((value >> (8 * k)) & 0xFF));
            break;
        case SerialFormat::Kind::BigEndian:
            for (int k = format.width - 1; k >= 0; --k)
                bytes.append(char((value >> (8 * k)) & 0xFF));
            break;
        case SerialFormat::Kind::Decimal:
            bytes = QByteArray::number(value).rightJustified(format.width, '0');
            break;
        case SerialFormat::Kind::Hex:
            bytes = QByteArray::number(value, 16).toUpper().rightJustified(format.width, '0');
            break;
        case SerialFormat::Kind::Bytes: break;
    }
    return bytes;
}

// The state file, held under an exclusive lock while it is open: one number, the next counter
// value or how many list values are taken.
class LockedState {
public:
    explicit LockedState(const QString& path) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0)
            error_ = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~LockedState() {
        if (fd_ >= 0) ::close(fd_);  // and the lock with it
    }
    const QString& Error() const { return error_; }

    // The number stored, or fallback for a new (empty) file; nullopt when it holds no number.
    std::optional<quint64> Read(quint64 fallback) {
        char text[32] = {};
        const ssize_t count = ::pread(fd_, text, sizeof text - 1, 0);
        if (count <= 0) return fallback;
        bool ok = false;
        const quint64 value = QByteArray(text, count).trimmed().toULongLong(&ok);
        return ok ? std::optional(value) : std::nullopt;
    }
    // On the disk before the lock is let go: a power cut never hands a value out twice.
    bool Write(quint64 value) {
        const QByteArray text = QByteArray::number(value) + '\n';
        return ::ftruncate(fd_, 0) == 0 &&
               ::pwrite(fd_, text.constData(), size_t(text.size()), 0) == text.size() &&
               ::fdatasync(fd_) == 0;
    }

private:
    int fd_ = -1;
    QString error_;
};

std::variant<QList<SerialValue>, QString> TakeFromCounter(const SerialRule& rule, int count,
                                                          LockedState& state) {
    const auto next = state.Read(rule.start);
    if (!next)
        return QStringLiteral("the counter's state file ") + rule.statePath +
               QStringLiteral(" holds no number");
    QList<SerialValue> values;
    quint64 value = *next;
    for (int k = 0; k < count; ++k) {
        if (value > rule.format.Largest())
            return QStringLiteral(
                       "the counter has run out: %1 does not fit the serial format "
                       "(at most %2)")
                .arg(value)
                .arg(rule.format.Largest());
        values << SerialValue{QString::number(value), NumberBytes(rule.format, value)};
        if (__builtin_add_overflow(value, rule.step, &value)) value = Unlimited;
    }
    if (!state.Write(value)) return QStringLiteral("the counter's state cannot be written");
    return values;
}

std::variant<QList<SerialValue>, QString> TakeFromList(const SerialRule& rule, int count,
                                                       LockedState& state) {
    const auto lines = SerialListLines(rule.listPath);
    if (const auto* error = std::get_if<QString>(&lines))
        return QStringLiteral("the list ") + rule.listPath + QStringLiteral(" cannot be read: ") +
               *error;
    const QStringList& all = std::get<QStringList>(lines);
    const auto taken = state.Read(0);
    if (!taken)
        return QStringLiteral("the list's state file ") + rule.statePath +
               QStringLiteral(" holds no number");
    const qsizetype left = all.size() - qsizetype(std::min<quint64>(*taken, all.size()));
    if (left < count)
        return QStringLiteral("the list ") + rule.listPath +
               QStringLiteral(" is used up: %1 of its %2 values left, %3 needed")
                   .arg(left)
                   .arg(all.size())
                   .arg(count);
    QList<SerialValue> values;
    for (int k = 0; k < count; ++k) {
        const QString& line = all[qsizetype(*taken) + k];
        auto value = SerialValueOf(rule.format, line);
        if (const auto* problem = std::get_if<QString>(&value))
            return QStringLiteral("the list's value \"") + line + QStringLiteral("\" ") + *problem;
        values << std::get<SerialValue>(value);
    }
    if (!state.Write(*taken + quint64(count)))
        return QStringLiteral("the list's state cannot be written");
    return values;
}

}  // namespace

std::variant<SerialFormat, QString> SerialFormat::Parse(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(':'));
    bool ok = false;
    const int width = parts.value(1).toInt(&ok);
    const QString kind = parts.value(0).toLower();
    const QString usage = QStringLiteral(
        "use le:N or be:N (N bytes, 1 to 8), dec:N or hex:N (N characters), bytes:N");
    if (parts.size() != 2 || !ok || width < 1) return usage;
    if (kind == QLatin1String("le") || kind == QLatin1String("be")) {
        if (width > 8) return QStringLiteral("a number takes 1 to 8 bytes");
        return SerialFormat{kind == QLatin1String("le") ? Kind::LittleEndian : Kind::BigEndian,
                            width};
    }
    if (width > 64) return QStringLiteral("at most 64 characters or bytes");
    if (kind == QLatin1String("dec")) return SerialFormat{Kind::Decimal, width};
    if (kind == QLatin1String("hex")) return SerialFormat{Kind::Hex, width};
    if (kind == QLatin1String("bytes")) return SerialFormat{Kind::Bytes, width};
    return usage;
}

quint64 SerialFormat::Largest() const {
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

QString SerialFormat::Text() const {
    static const char* const names[] = {"le", "be", "dec", "hex", "bytes"};
    return QStringLiteral("%1:%2").arg(QLatin1String(names[int(kind)])).arg(width);
}

std::variant<SerialValue, QString> SerialValueOf(const SerialFormat& format, const QString& line) {
    if (format.kind == SerialFormat::Kind::Bytes) {
        QString digits = line;
        digits.remove(QRegularExpression(QStringLiteral("[:\\-\\s]")));
        const QByteArray bytes = QByteArray::fromHex(digits.toLatin1());
        const bool hex =
            QRegularExpression(QStringLiteral("^[0-9A-Fa-f]*$")).match(digits).hasMatch();
        if (!hex || digits.size() != 2 * format.width)
            return QStringLiteral("is not %1 bytes in hex").arg(format.width);
        return SerialValue{line, bytes};
    }
    bool ok = false;
    const bool hex = line.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive);
    const quint64 value = hex ? line.mid(2).toULongLong(&ok, 16) : line.toULongLong(&ok, 10);
    if (!ok) return QStringLiteral("is not a number");
    if (value > format.Largest()) return QStringLiteral("does not fit the format");
    return SerialValue{line, NumberBytes(format, value)};
}

std::variant<QStringList, QString> SerialListLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return file.errorString();
    if (file.size() > ListFileLimit) return QStringLiteral("it is larger than 16 MiB");
    QStringList values;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QString value = QString::fromUtf8(line).trimmed();
        if (!value.isEmpty() && !value.startsWith(QLatin1Char('#'))) values << value;
    }
    return values;
}

QString DefaultSerialStatePath(const QString& listPath) {
    const QString folder = QFileInfo(DefaultWriteLogPath()).absolutePath();
    return folder + (listPath.isEmpty()
                         ? QStringLiteral("/serial-counter")
                         : QStringLiteral("/serial-list-") + QFileInfo(listPath).fileName());
}

QString CheckSerialArea(const SerialRule& rule, const LoadedImage& image) {
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
    if (rule.format.kind == SerialFormat::Kind::Bytes && rule.listPath.isEmpty())
        return QStringLiteral("bytes:N values come from a list (--serial-list)");
    return {};
}

std::variant<QList<SerialValue>, QString> TakeSerialValues(const SerialRule& rule, int count) {
    LockedState state(rule.statePath);
    if (!state.Error().isEmpty())
        return QStringLiteral("the serial state file ") + rule.statePath +
               QStringLiteral(" cannot be locked: ") + state.Error();
    return rule.listPath.isEmpty() ? TakeFromCounter(rule, count, state)
                                   : TakeFromList(rule, count, state);
}

QString SerialStateText(const SerialRule& rule) {
    LockedState state(rule.statePath);
    if (!state.Error().isEmpty())
        return QStringLiteral("its state cannot be read: ") + state.Error();
    if (rule.listPath.isEmpty()) {
        const auto next = state.Read(rule.start);
        return next ? QStringLiteral("next value %1").arg(*next)
                    : QStringLiteral("its state holds no number");
    }
    const auto lines = SerialListLines(rule.listPath);
    if (const auto* error = std::get_if<QString>(&lines))
        return QStringLiteral("the list cannot be read: ") + *error;
    const qsizetype total = std::get<QStringList>(lines).size();
    const quint64 taken = state.Read(0).value_or(0);
    return QStringLiteral("%1 of %2 values left")
        .arg(total - qsizetype(std::min<quint64>(taken, total)))
        .arg(total);
}

}  // namespace morven
