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
    KernelTooLong,      // its length does not fit the two length bytes
    SRecordUnreadable,  // nothing was sent
    NothingToWrite,     // the file stores no data byte in the image; nothing was sent
    WarningsRefused,    // the file has warnings and the user asked for a strict check
    TerminalInput,      // standard input is a terminal, not a file
    PortOpenFailed,
    PortFailed,  // during the write
    Cancelled    // the window is closing, or the user interrupted; nothing is shown
};

// The text of KernelMissing, whether the write finds the kernel gone or its reading does.
inline constexpr const char* KernelMissingText = "Not Found DOVIZOV.BIN";

}  // namespace morven
