#pragma once

#include <QList>
#include <QString>

#include "line/StationPorts.h"
#include "write/WriteFlow.h"

namespace morven {

// A gang's table: one row per port, in the order given, an absent one among them, with its
// device, adapter, outcome and seconds; names are padded, never formatted into the row.
// results are the present ports', in their order.
QString GangTable(const QList<StationPort>& ports, const QList<WriteResult>& results);

}  // namespace morven
