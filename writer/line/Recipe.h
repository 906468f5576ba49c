#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <variant>

#include "RecipeSignature.h"
#include "serial/UnitNumberRule.h"
#include "write/WriteJob.h"

namespace morven {

// What a station writes: the file and the kernel (and the hashes it approves), the ports, whether
// warnings refuse, where the records go and how each board gets its value. Read from a recipe
// file, or made of morven-cli's options when no recipe is given (then nothing is approved).
struct Recipe {
    QString path;            // the recipe file; empty when made of options
    FirmwareInput firmware;  // its path "-" for standard input
    QByteArray imageSha256;  // in hex; empty: any image
    QString kernelPath;      // empty: looked up as the windows look it up
    QByteArray kernelSha256; // in hex; empty: any kernel
    QStringList ports;       // as named; several for a gang write
    bool strict = false;     // a file with warnings is refused
    QString logPath;         // empty: the default write log
    std::optional<UnitNumberRule> unitNumberRule;
    QByteArray text;         // the file as read: what its settings and its signature are of
    RecipeRelease release;   // who signed text, when the station checks signatures
};

// "0x1000" in hex, "4096" in decimal; no octal surprise from a leading zero.
std::optional<quint64> ParseNumber(const QString& text);

// A setting as it was given: named as the user wrote it ("--serial-at", "[serial] address") for
// the error that names it, and its text ("" when not given).
struct NamedSetting {
    QString name;
    QString text;
};

// The unit-number rule from its settings, in this order: address, format, start, step, list,
// state. Relative paths are relative to folder; without a state, defaultState. Otherwise the
// usage error, naming the setting.
std::variant<UnitNumberRule, QString> MakeUnitNumberRule(
    const std::array<NamedSetting, 6>& settings, const QString& folder,
    const QString& defaultState);

// Where the previous release kept a recipe's state when it names none: beside it, named after
// it, station-3.ini's station-3.serial-state. Now StationUnitNumberStatePath.
QString PreviousReleaseStatePath(const QString& recipePath);

// A station's recipe, an INI file:
//   [image]   file, sha256 (of the N bytes a write sends, as --check prints it), binary_at
//   [kernel]  file, sha256 (of the file)
//   [station] ports (a comma-separated list), strict (true: warnings refuse the file), log
//   [serial]  address, format, start, step, list, state   (the section is optional; address and
//             format are required, and start or list)
// Relative paths are relative to the recipe's folder. An unknown section or key, a missing key
// or a bad value is a usage error naming it. The file is read once: its settings and its
// signature's check (release) are of the same bytes.
std::variant<Recipe, QString> ReadRecipe(const QString& path);

}  // namespace morven
