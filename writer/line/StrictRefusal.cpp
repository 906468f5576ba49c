#include "StrictRefusal.h"

#include "image/FirmwareFormat.h"

namespace morven {

std::optional<WriteRefusal> StrictRefusal(const Recipe& recipe, const LoadReport& report) {
    if (!recipe.strict || !report.HasWarnings()) return std::nullopt;
    return WriteRefusal{WriteOutcome::WarningsRefused,
                        QStringLiteral("The %1 file %2 has warnings and --strict refuses it. "
                                       "Nothing was sent.")
                            .arg(FormatName(report.format), DisplayName(recipe.firmware.path))};
}

}  // namespace morven
