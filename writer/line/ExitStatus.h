#pragma once

namespace morven {

// A station's statuses of its own, beside a single write's (OutcomeStatus: 0, 2 to 11, 14, 15).
enum ExitStatus {
    ExitOk = 0,
    ExitUsage = 2,
    ExitGangFailed = 12,  // several ports: not every one "O.K."
};

}  // namespace morven
