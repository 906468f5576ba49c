#pragma once

namespace morven {

// How a write ended. The first seven are the operator's seven texts; the rest are this
// program's own, for what the target protocol does not cover.
enum class WriteOutcome {
    Ok,
    NoAnswer,
    KernelTimedOut,
    KernelWrongAnswer,
    KernelMissing,
    FlashTimedOut,
    FlashWrongAnswer,
    KernelTooLong,        // its length does not fit the two length bytes
    SRecordUnreadable,    // nothing was sent
    NothingToWrite,       // the file stores no data byte in the image; nothing was sent
    FormatRefused,        // a malformed Intel HEX line, a broken ELF file; nothing was sent
    Unapproved,           // the image or kernel is not the one a recipe approves; nothing was sent
    UnitNumbersRefused,   // no unit numbers left, or data where they go; nothing was sent
    UnitNumberStoreAway,  // the line's database of unit numbers cannot be reached; nothing sent
    UnitNumberStoreLoginRefused,  // the line's database refused the station's login; nothing sent
    WarningsRefused,              // the file has warnings and the user asked for a strict check
    TerminalInput,                // standard input is a terminal, not a file
    PortOpenFailed,
    PortFailed,  // during the write
    Cancelled    // the window is closing, or the user interrupted
};

// The text of KernelMissing, whether the write finds the kernel gone or its reading does.
inline constexpr const char* KernelMissingText = "Not Found DOVIZOV.BIN";

// The number a write record gives an outcome, for scripts to branch on; morven-cli exits with it
// after a single write. A cancelled write's number is its canceller's (below).
int OutcomeStatus(WriteOutcome outcome);

// A write cancelled by a signal is recorded with this plus the signal's number (130 SIGINT).
inline constexpr int StatusSignalBase = 128;
// A write ended by closing the main window.
inline constexpr int StatusWindowClosed = 13;
// UnitNumberStoreAway's: a script may try again later, as it would not after a refusal.
inline constexpr int StatusUnitNumberStoreAway = 14;
// UnitNumberStoreLoginRefused's: trying again cannot help until the role or its password is fixed.
inline constexpr int StatusUnitNumberStoreLoginRefused = 15;

}  // namespace morven
