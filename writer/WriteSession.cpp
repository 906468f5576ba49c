#include "WriteSession.h"

namespace morven {

WriteSession::WriteSession(SerialLink& link, ProgressDisplay& progress, MessageSink& messages)
    : link_(link), progress_(progress), messages_(messages) {}

WriteOutcome WriteSession::Run(WriteJob& job) {
    SerialPort& port = link_.Port();
    FlashWriter writer(link_, progress_, messages_, job);
    if (!port.OpenPort()) return writer.Report(WriteOutcome::PortOpenFailed);
    port.DiscardInput();
    const WriteOutcome outcome = writer.WriteSequence();
    port.ClosePort();
    port.SetLineSettings(QString::fromLatin1(SerialPort::BootLineSettings));
    return outcome;
}

}  // namespace morven
