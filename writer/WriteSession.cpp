#include "WriteSession.h"

namespace morven {

WriteSession::WriteSession(SerialLink& link, ProgressDisplay& progress, MessageSink& messages)
    : link_(link), progress_(progress), messages_(messages) {}

Task<WriteOutcome> WriteSession::Write(WriteJob& job) {
    SerialPort& port = link_.Port();
    FlashWriter writer(link_, progress_, messages_, job);
    if (!port.OpenPort()) co_return writer.Report(WriteOutcome::PortOpenFailed);
    port.DiscardInput();
    const WriteOutcome outcome = co_await writer.WriteSequence();
    port.ClosePort();
    port.SetLineSettings(QString::fromLatin1(SerialPort::BootLineSettings));
    co_return outcome;
}

}  // namespace morven
