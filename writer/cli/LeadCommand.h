#pragma once

#include "CommandLine.h"

namespace morven {

// --serial-make-counter and --serial-load-list: the line's lead's work in its database.
// Returns the status.
int DoLeadWork(const CliOptions& options);

}  // namespace morven
