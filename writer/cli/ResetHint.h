#pragma once

#include <QList>
#include <QStringList>

#include "write/WriteFlow.h"

namespace morven {

// A hint for each board that needs a reset into its boot mode before the next write: one that
// did not answer the wake-up ("Err 1"), or whose write was interrupted (it may still run the
// kernel). For standard error only: the outcomes on standard output stay as scripts read them.
QStringList ResetHints(const QList<WriteResult>& results);

}  // namespace morven
