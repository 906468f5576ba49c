#include "QuickAcknowledge.h"

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace morven {

void AcknowledgeAtOnce(const QAbstractSocket& socket) {
#ifdef Q_OS_LINUX
    const int on = 1;
    setsockopt(static_cast<int>(socket.socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &on,
               sizeof on);
#else
    Q_UNUSED(socket);
#endif
}

}  // namespace morven
