#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <variant>

#include "image/TargetImage.h"

namespace morven {

// How a board's value is laid into its image: "le:N" or "be:N", an unsigned number of N bytes
// (1 to 8); "dec:N" or "hex:N", N ASCII characters, zero-padded (hex in upper case); "bytes:N",
// N bytes given in hex by a list (a MAC address, a key).
struct SerialFormat {
    enum class Kind { LittleEndian, BigEndian, Decimal, Hex, Bytes };
    Kind kind = Kind::LittleEndian;
    int width = 4;

    // The format, or why the text is none.
    static std::variant<SerialFormat, QString> Parse(const QString& text);
    // How many bytes it takes in the image.
    int Size() const { return width; }
    // The largest number it holds; 0 for bytes:N.
    quint64 Largest() const;
    // As Parse reads it: "dec:8".
    QString Text() const;
};

// A unique value in every board: where it goes, how it is written, and where values come from,
// a counter (start, step) or a list file, one value a line, taken in order.
struct SerialRule {
    std::uint32_t address = 0;
    SerialFormat format;
    quint64 start = 1;
    quint64 step = 1;
    QString listPath;   // empty: the counter
    QString statePath;  // the counter's next value, or how many lines of the list are taken
};

// One board's value: as the record names it, and as the image holds it.
struct SerialValue {
    QString text;
    QByteArray bytes;
};

// A value as the format wants it: hex bytes for bytes:N ("00:1A:2B:3C:4D:5E", "001A2B3C4D5E"),
// else a number (decimal, or hex after 0x); or why it is none.
std::variant<SerialValue, QString> SerialValueOf(const SerialFormat& format, const QString& text);

// The values of a list file: its lines, without blank lines and # comments; or why not.
std::variant<QStringList, QString> SerialListLines(const QString& path);

// $XDG_STATE_HOME/morven/serial-counter, or serial-list-NAME for a list NAME.
QString DefaultSerialStatePath(const QString& listPath);

// Empty when the rule's area lies below 0x60000 and the image holds only 0xFF there; else why
// not. A serial area is reserved: data in it means a wrong address.
QString CheckSerialArea(const SerialRule& rule, const LoadedImage& image);

// Takes count values at once, under an exclusive lock on the state file, so that two processes
// or gangs never hand out the same value. Each is handed out once and never again, whatever then
// happens to its write. When fewer are left, none is taken: why not.
std::variant<QList<SerialValue>, QString> TakeSerialValues(const SerialRule& rule, int count);

// What is left to hand out, for a station's check: "next value 1005" or "3 of 10 values left".
QString SerialStateText(const SerialRule& rule);

}  // namespace morven
