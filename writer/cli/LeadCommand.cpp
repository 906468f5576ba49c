#include "LeadCommand.h"

#include "ConsoleOutcome.h"
#include "line/ExitStatus.h"
#include "line/InterruptSignals.h"
#include "serial/DatabaseLead.h"

namespace morven {

int DoLeadWork(const CliOptions& options) {
    const InterruptSignals interrupts([] {});
    const auto done =
        options.makeCounter
            ? MakeCounter(*options.station.unitNumberRule, StopRequested)
            : LoadList(options.loadInto, options.loadList, options.loadFormat, StopRequested);
    if (StopRequested()) Interrupted();
    if (const auto* refusal = std::get_if<WriteRefusal>(&done)) {
        PrintError(refusal->text);
        return OutcomeStatus(refusal->outcome);
    }
    PrintOutcome(std::get<QString>(done));
    return ExitOk;
}

}  // namespace morven
