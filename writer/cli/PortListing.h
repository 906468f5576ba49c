#pragma once

#include <QString>

namespace morven {

// What --list-ports prints: COM1 to COM10 with the device each opens and whether it is there,
// then every serial port the system reports, with what it reports of each. As text, or as one
// JSON object {"com": [...], "ports": [...]} for scripts.
QString PortListing(bool json);

}  // namespace morven
