#pragma once

#include "CommandLine.h"

namespace morven {

// A write: every board the options or the recipe name, with the unit numbers taken for all
// of them before any port opens, each write on record the moment it ended. Returns the status:
// the board's for one, the gang's for several.
int WriteBoards(const CliOptions& options);

}  // namespace morven
