#pragma once

namespace morven {

// Every status morven-cli ends with, as --help and the README show them.
extern const char* const ExitStatusHelp;

}  // namespace morven
