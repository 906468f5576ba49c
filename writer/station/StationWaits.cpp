#include "StationWaits.h"

#include <QElapsedTimer>
#include <memory>

#include "line/InterruptSignals.h"

namespace morven {

bool SignalCame() { return InterruptSignals::Received() != 0; }

std::function<bool()> GiveUpAfter(qint64 milliseconds) {
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    return [clock, milliseconds] { return SignalCame() || clock->elapsed() > milliseconds; };
}

}  // namespace morven
