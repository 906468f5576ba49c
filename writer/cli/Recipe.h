#pragma once

#include <QString>
#include <array>
#include <optional>
#include <variant>

#include "write/Serialization.h"

namespace morven {

struct CliOptions;

// A setting as it was given: named as the user wrote it ("--serial-at", "[serial] address") for
// the error that names it, and its text ("" when not given).
struct NamedSetting {
    QString name;
    QString text;
};

// The serialization rule from its settings, in this order: address, format, start, step, list,
// state. Relative paths are relative to folder. Otherwise the usage error, naming the setting.
std::variant<SerialRule, QString> MakeSerialRule(const std::array<NamedSetting, 6>& settings,
                                                 const QString& folder);

// A station's recipe, an INI file:
//   [image]   file, sha256 (of the N bytes a write sends, as --check prints it), binary_at
//   [kernel]  file, sha256 (of the file)
//   [station] ports (a comma-separated list), strict (true: warnings refuse the file), log
//   [serial]  address, format, start, step, list, state   (the section is optional)
// Relative paths are relative to the recipe's folder. Fills options; a missing key or a bad
// value is a usage error naming the key.
std::optional<QString> ApplyRecipe(const QString& path, CliOptions& options);

}  // namespace morven
