// IPv4 socket addresses: made from a dotted address text and a port, and shown in messages.
#pragma once

#include <netinet/in.h>

namespace Network {

// An IPv4 address with the port; a null or empty text means every local address. False for
// a text that is not a dotted IPv4 address.
bool MakeAddress(const char* text, unsigned short port, sockaddr_in* address);

// Dotted text of the address, into a caller buffer of at least 16 bytes.
const char* AddressText(const sockaddr_in& address, char* text, unsigned size);

inline unsigned short AddressPort(const sockaddr_in& address) {
    return ntohs(address.sin_port);
}

} // namespace Network
