#pragma once

#include <QString>

#include "OperatorOutputs.h"
#include "SerialLink.h"
#include "WriteSequence.h"

namespace morven {

// Everything a write does around the boot-mode sequence, for every front end: open the chosen
// port at 19200 baud, discard waiting input, the write, then close the port and restore the
// line settings "19200,N,8,1", whatever the outcome.
class WriteSession {
public:
    WriteSession(SerialLink& link, ProgressDisplay& progress, MessageSink& messages);

    // Shows exactly one message (none when cancelled) and returns the outcome. The session and
    // the job must outlive the task; several sessions' tasks run together under DriveLinks.
    Task<WriteOutcome> Write(WriteJob& job);
    // Write driven to its end on this thread's event loop.
    WriteOutcome Run(WriteJob& job) { return RunToEnd(link_, Write(job)); }

private:
    SerialLink& link_;
    ProgressDisplay& progress_;
    MessageSink& messages_;
};

}  // namespace morven
