#pragma once

#include "WriteOutcome.h"

namespace morven {

// morven-cli's exit statuses, one per kind of outcome, for scripts to branch on; the write
// records carry them too.
enum ExitStatus {
    ExitOk = 0,
    ExitUsage = 2,
    ExitNoAnswer = 3,           // "Err 1"
    ExitKernelTimedOut = 4,     // "Time Out Farm Err"
    ExitKernelWrongAnswer = 5,  // "Farm Err"
    ExitKernelProblem = 6,      // kernel missing, empty or too long
    ExitFlashTimedOut = 7,      // "Time Out S File Err"
    ExitFlashWrongAnswer = 8,   // "S File Err "
    ExitPortProblem = 9,        // cannot be opened, busy, or failed during the write
    ExitSRecordUnreadable = 10,
    ExitSRecordRefused = 11,  // nothing to write, or warnings under --strict
    ExitGangFailed = 12,      // several ports: not every one "O.K."
    ExitSignalBase = 128      // plus the signal's number: 130 for SIGINT, 143 for SIGTERM
};

ExitStatus ExitStatusFor(WriteOutcome outcome);

// The table above as --help and the README show it.
extern const char* const ExitStatusHelp;

}  // namespace morven
