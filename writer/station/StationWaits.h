#pragma once

#include <QtGlobal>
#include <functional>

namespace morven {

// How the station's window waits: a signal (a logout, a shutdown) ends any wait at once.
bool SignalCame();

// For a wait that has no limit of its own (a pipe nobody writes, another run's lock): true
// once milliseconds have passed, or a signal came. Made afresh for each wait, so that a limit
// never outlives the wait it was made for.
std::function<bool()> GiveUpAfter(qint64 milliseconds);

}  // namespace morven
