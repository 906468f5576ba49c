#pragma once

#include <QString>

namespace morven {

// `morven-cli --remote-write FORMAT`, which a client starts through ssh: reads the client's
// request on standard input, writes the board on this machine's port, records the write here,
// and answers with frames on standard output (RemoteFrames): progress, then the result. The
// write ends at its current wait when standard input ends (the client went away or cancelled)
// or a signal comes. Returns the write's status.
int ServeRemoteWrite(int format);
// `morven-cli --remote-write FORMAT --check --port DEVICE`, a station's check through ssh: 0 when
// this morven-cli speaks FORMAT and DEVICE is there; 2 for another format, 9 for no device, each
// said on standard error.
int ServeRemoteCheck(int format, const QString& device);

}  // namespace morven
