// Test packets: a KEST header with a sequence number in the timestamp and a body whose
// bytes follow from it, so that any byte out of place shows.
#pragma once

#include "protocol/KestPacket.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace nettest {

inline std::uint8_t BodyByte(std::uint32_t sequence, std::size_t offset) {
    return static_cast<std::uint8_t>(sequence * 31u + offset * 7u + 1u);
}

// Writes a packet of `bytes` bytes (a multiple of 4, 8 to 1020).
inline void FillPacket(std::uint8_t* dest, std::size_t bytes, std::uint32_t sequence) {
    dest[0] = static_cast<std::uint8_t>(bytes / 4);
    dest[1] = 1;
    dest[2] = 5;
    dest[3] = 1;
    std::memcpy(dest + 4, &sequence, 4);
    for (std::size_t i = 8; i < bytes; ++i) {
        dest[i] = BodyByte(sequence, i);
    }
}

// Filled in a buffer of the largest packet's size and copied out: GCC at -O3 cannot see that
// a freshly sized vector holds the header and warns (-Wstringop-overflow) when it is
// written to directly.
inline std::vector<std::uint8_t> MakePacket(std::size_t bytes, std::uint32_t sequence) {
    std::array<std::uint8_t, 1020> buffer{};
    FillPacket(buffer.data(), bytes, sequence);
    return std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + bytes);
}

// Whether `bytes` hold a whole packet made by FillPacket with this sequence number.
inline bool IsPacket(const std::uint8_t* bytes, std::size_t length, std::uint32_t sequence) {
    if (length < 8 || bytes[0] * 4u != length) {
        return false;
    }
    std::uint32_t stamp;
    std::memcpy(&stamp, bytes + 4, 4);
    if (stamp != sequence) {
        return false;
    }
    for (std::size_t i = 8; i < length; ++i) {
        if (bytes[i] != BodyByte(sequence, i)) {
            return false;
        }
    }
    return true;
}

} // namespace nettest
