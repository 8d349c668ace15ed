// CacheRingSizes: how much every ring of a cache's modules holds.
#pragma once

#include <cstdint>

struct CacheRingSizes {
    // Depth of every continuous ring in processor clock ticks (5.12 s).
    std::uint32_t contTicks = 153600;
    // Packets that every event ring (segments, digital events) holds.
    std::uint32_t eventCapacity = 1024;
};
