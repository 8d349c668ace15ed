// The client links' family (the processor link and the operator link): its two
// process-wide rings and its state. The configuration sender writes packets for the
// processor into "configBuffer"; the running link sends them. "dataBuffer" carries nothing
// on these links and is reset with the other.
//
// This family keeps its own state apart from the packet server's, so that a process that
// runs both never mistakes one for the other.
#pragma once

#include "transport/CircularKestBuffer.h"
#include "transport/NetworkExport.h"

#include <atomic>
#include <cstdint>

namespace Network {
namespace OperNetwork {

extern KEST_NETWORK_API CircularKestBuffer gDataBuffer;
extern KEST_NETWORK_API CircularKestBuffer gConfigBuffer;
// Which link is open (gCurrentNetwork).
constexpr std::int32_t kNoLink = 0;
constexpr std::int32_t kTcpLink = 1;
constexpr std::int32_t kUdpLink = 2;
extern KEST_NETWORK_API std::atomic<std::int32_t> gCurrentNetwork;
// The link thread's state (gNetworkState).
constexpr std::int32_t kLinkNeverStarted = 0;
constexpr std::int32_t kLinkRunning = 1;
constexpr std::int32_t kLinkStopped = 2;
extern KEST_NETWORK_API std::atomic<std::int32_t> gNetworkState;

// True once the family's rings are made (load time) and until they are destroyed; a link
// must not start before.
KEST_NETWORK_API bool NetworkStaticsReady();

// Zeroes both rings of the family (link start and shutdown).
KEST_NETWORK_API void ResetRings();

} // namespace OperNetwork
} // namespace Network
