#pragma once

#include <optional>

#include "Recipe.h"
#include "image/LoadReport.h"
#include "write/WriteJob.h"

namespace morven {

// The refusal of a file with warnings when the recipe (or --strict) says warnings refuse it.
std::optional<WriteRefusal> StrictRefusal(const Recipe& recipe, const LoadReport& report);

}  // namespace morven
