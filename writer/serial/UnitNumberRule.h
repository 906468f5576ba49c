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
struct UnitNumberFormat {
    enum class Kind { LittleEndian, BigEndian, Decimal, Hex, Bytes };
    Kind kind = Kind::LittleEndian;
    int width = 4;

    // The format, or why the text is none.
    static std::variant<UnitNumberFormat, QString> Parse(const QString& text);
    // As Parse reads it: "le:4".
    QString Text() const;
    // How many bytes it takes in the image.
    int Size() const { return width; }
    // The largest number it holds; 0 for bytes:N.
    quint64 Largest() const;
};

// A unique value in every board: where it goes, how it is written, and where values come from,
// a counter (start, step) or a list file, one value a line, taken in order.
struct UnitNumberRule {
    std::uint32_t address = 0;
    UnitNumberFormat format;
    quint64 start = 1;
    quint64 step = 1;
    QString listPath;   // empty: the counter
    QString statePath;  // the counter's next value, or how many lines of the list are taken
    // Where an earlier release kept this state (beside the recipe): while a state stands there
    // and none at statePath, the rule is refused, so that nobody starts its numbers again.
    QString formerStatePath;

    // "address 0x5ff00, format dec:8, start 10000001, step 1", or "..., list macs.txt".
    QString Text() const;
};

// One board's value: as the record names it, and as the image holds it.
struct UnitNumber {
    QString text;
    QByteArray bytes;
};

// The counter's value as the format lays it in; value fits the format.
UnitNumber CounterValue(const UnitNumberFormat& format, quint64 value);

// $XDG_STATE_HOME/morven/serial-counter, or serial-list-NAME for a list NAME.
QString DefaultUnitNumberStatePath(const QString& listPath);

// The station's folder of unit-number states, which the package makes: /var/lib/morven.
QString StationStateFolder();
// A recipe's state when it names none: in the station's folder, named by its rule, so that
// every recipe with the rule goes on with one counter:
// counter-0x5FF00-dec8-10000001-step1.serial-state, or list-macs.txt.serial-state (a list's
// values are handed out once, at whatever address: its name alone names it).
QString StationUnitNumberStatePath(const UnitNumberRule& rule);

// Empty when the rule's area lies below 0x60000 and the image holds only 0xFF there; else why
// not. A unit-number area is reserved: data in it means a wrong address.
QString CheckUnitNumberArea(const UnitNumberRule& rule, const LoadedImage& image);

}  // namespace morven
