#pragma once

#include "CommandLine.h"
#include "line/Recipe.h"

namespace morven {

// --check: what the file holds and whether a write would send it. Returns the status.
int CheckFile(const CliOptions& options);

// --check --recipe: whether the station is ready to write: the file's report, the approval of
// the image and the kernel, the ports and the unit numbers left. Returns the status.
int CheckRecipe(const Recipe& recipe);

}  // namespace morven
