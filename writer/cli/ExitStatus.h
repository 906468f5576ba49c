#pragma once

namespace morven {

// morven-cli's exit statuses of its own. After a single write it exits with the write's status
// (OutcomeStatus: 0 and 3 to 11), or dies by the signal that cancelled it.
enum ExitStatus {
    ExitOk = 0,
    ExitUsage = 2,
    ExitGangFailed = 12,  // several ports: not every one "O.K."
};

// Every status, as --help and the README show them.
extern const char* const ExitStatusHelp;

}  // namespace morven
