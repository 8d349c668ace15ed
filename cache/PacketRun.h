// KestPacketRun: whole packets laid end to end where a link received them (the front of one
// datagram, or what one stream read completed), and the endpoint they came from (an IPv4
// address in network order, or kKestNoSource), and whether that endpoint is the processor:
// from any other, packets that claim the processor's id are refused.
#pragma once

#include <cstddef>
#include <cstdint>

struct KestPacketRun {
    const std::uint8_t* bytes;
    std::size_t length;
    std::uint32_t source;
    bool processor = true;
};
