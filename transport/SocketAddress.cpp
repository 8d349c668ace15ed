#include "transport/SocketAddress.h"

#include <arpa/inet.h>
#include <cstring>

namespace Network {

bool MakeAddress(const char* text, unsigned short port, sockaddr_in* address) {
    std::memset(address, 0, sizeof *address);
    address->sin_family = AF_INET;
    address->sin_port = htons(port);
    if (text == nullptr || text[0] == '\0') {
        address->sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return inet_pton(AF_INET, text, &address->sin_addr) == 1;
}

const char* AddressText(const sockaddr_in& address, char* text, unsigned size) {
    if (inet_ntop(AF_INET, &address.sin_addr, text, size) == nullptr && size > 0) {
        text[0] = '\0';
    }
    return text;
}

} // namespace Network
