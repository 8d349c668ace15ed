// Building configuration packets: property sets, requests and descriptor sends.
#pragma once

#include "protocol/KestPacket.h"

#include <cstddef>
#include <cstdint>

// Packet length in bytes of a configuration packet carrying a record of recordLength
// bytes: the 12-byte head plus the record, padded to whole words. The size byte is this
// length divided by 4, that is (recordLength + 15) / 4.
constexpr std::size_t KestConfigPacketBytes(std::size_t recordLength) {
    return (recordLength + 15) / 4 * 4;
}

// Timestamp of packets the library builds: 1 for sets copied from a stored record and
// for descriptors, 0 for requests, digital outputs and stimulation sequences.
constexpr std::uint32_t kKestSetTimestamp = 1;
constexpr std::uint32_t kKestRequestTimestamp = 0;

// Writes a configuration packet into dest (capacity bytes): header bytes 1-3 are 0,
// the address is (targetProc, module, propIndex), the record (recordLength bytes, may be
// null when recordLength is 0) follows from byte 12, and padding bytes are 0. Returns the
// packet length in bytes, or 0 when it does not fit into capacity or into one packet.
std::size_t KestBuildConfigPacket(void* dest, std::size_t capacity, std::uint8_t targetProc,
                                  std::uint8_t module, std::uint16_t propIndex, const void* record,
                                  std::size_t recordLength, std::uint32_t timestamp);

// A 12-byte request (size 3, timestamp 0) for one property, all properties of a module
// (propIndex 0xFFFF) or, with the reserved addresses, everything.
inline std::size_t KestBuildRequest(void* dest, std::size_t capacity, std::uint8_t targetProc,
                                    std::uint8_t module, std::uint16_t propIndex) {
    return KestBuildConfigPacket(dest, capacity, targetProc, module, propIndex, nullptr, 0,
                                 kKestRequestTimestamp);
}
