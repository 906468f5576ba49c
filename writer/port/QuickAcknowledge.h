#pragma once

#include <QAbstractSocket>

namespace morven {

// The server may send a purge's acknowledgement and the target's next byte as two small
// segments; unless it turned Nagle's algorithm off, the second waits for our acknowledgement of
// the first, which the system would delay by up to 40 ms. Called after each read: Linux forgets
// it then. Elsewhere, nothing.
void AcknowledgeAtOnce(const QAbstractSocket& socket);

}  // namespace morven
