// Framing of one datagram: a datagram stands alone, so only the run of whole packets at its
// front is kept. A packet cut short at the datagram's end, of size 0 or shorter than a
// header leaves nothing to frame after it.
#pragma once

#include "transport/NetworkExport.h"

#include <cstdint>

namespace Network {

// Length of the run of whole packets at the front of `datagram` that fits in `room`. The
// packets after that run are counted in *dropped; a packet cut short at the datagram's end,
// of size 0 or shorter than a header counts as one.
KEST_NETWORK_API std::uint64_t FrameDatagram(const std::uint8_t* datagram, std::uint64_t length,
                                             std::uint64_t room, std::uint64_t* dropped);

} // namespace Network
