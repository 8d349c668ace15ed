// The operator registry: turns the short addresses a user types into endpoint ids,
// connects operators over the stream link, finds known endpoints, and answers what the
// rest of the system asks about an id. It keeps no table of its own: connected operators
// live in the stream link, and announced peers in the cache.
#pragma once

#include "client/KestOperatorRoutes.h"
#include "include/kestlib.h"

#include <cstdint>

namespace Network {
class OperClient;
}

namespace oper {

// Connects an operator; its id, or -1 (all ones) unless the stream link runs and one of
// the candidate addresses answers within the timeout.
std::uint32_t OperAdd(const char* address, KestConnectionPolicy policy, int timeout_ms);
// The id of a known endpoint, or -1.
std::uint32_t OperLookup(const char* address);

inline unsigned OperHostId(std::uint32_t id) {
    return KestEndpointHost(id);
}
inline bool OperIsProcessor(std::uint32_t id) {
    return KestEndpointIsProcessor(id);
}
inline unsigned OperProcessorId(std::uint32_t id) {
    return KestEndpointProcessorId(id);
}

// The connection of an operator id on the stream link; null otherwise.
Network::OperClient* FindOperClient(std::uint32_t id);
// True on the datagram link, for a processor id, or for a connected operator.
bool OperIsValid(std::uint32_t id);
// Off the stream link the wired network's host 150; on it the smallest connected operator
// id, or -1.
std::uint32_t OperFirstKestClient();

// How the configuration sender reaches the operators of the running link.
KestOperatorRoutes& LinkRoutes();

} // namespace oper
