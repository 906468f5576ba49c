#include "WriteOutcome.h"

namespace morven {

int OutcomeStatus(WriteOutcome outcome) {
    switch (outcome) {
        case WriteOutcome::Ok: return 0;
        case WriteOutcome::TerminalInput: return 2;  // a usage error
        case WriteOutcome::NoAnswer: return 3;
        case WriteOutcome::KernelTimedOut: return 4;
        case WriteOutcome::KernelWrongAnswer: return 5;
        case WriteOutcome::KernelMissing:
        case WriteOutcome::KernelTooLong: return 6;
        case WriteOutcome::FlashTimedOut: return 7;
        case WriteOutcome::FlashWrongAnswer: return 8;
        case WriteOutcome::PortOpenFailed:
        case WriteOutcome::PortFailed:
        case WriteOutcome::Cancelled: return 9;
        case WriteOutcome::SRecordUnreadable: return 10;
        case WriteOutcome::NothingToWrite:
        case WriteOutcome::FormatRefused:
        case WriteOutcome::Unapproved:
        case WriteOutcome::UnitNumbersRefused:
        case WriteOutcome::WarningsRefused: return 11;
        case WriteOutcome::UnitNumberStoreAway: return StatusUnitNumberStoreAway;
        case WriteOutcome::UnitNumberStoreLoginRefused: return StatusUnitNumberStoreLoginRefused;
    }
    return 9;
}

}  // namespace morven
