#include "transport/Socket.h"

#include <unistd.h>

namespace net {

void CloseSocket(sock_t& socket) {
    if (socket >= 0) {
        ::close(socket);
    }
    socket = kInvalidSocket;
}

} // namespace net
