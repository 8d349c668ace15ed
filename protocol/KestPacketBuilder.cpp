#include "protocol/KestPacketBuilder.h"

#include <cstring>

std::size_t KestBuildConfigPacket(void* dest, std::size_t capacity, std::uint8_t targetProc,
                                  std::uint8_t module, std::uint16_t propIndex, const void* record,
                                  std::size_t recordLength, std::uint32_t timestamp) {
    const std::size_t bytes = KestConfigPacketBytes(recordLength);
    if (dest == nullptr || bytes > capacity || bytes > kKestMaxPacketSize ||
        (record == nullptr && recordLength != 0)) {
        return 0;
    }
    auto* out = static_cast<std::uint8_t*>(dest);
    std::memset(out, 0, bytes);
    auto* packet = reinterpret_cast<KestConfigPacket*>(out);
    packet->header.size = static_cast<std::uint8_t>(bytes / 4);
    packet->header.timestamp = timestamp;
    packet->targetProcId = targetProc;
    packet->moduleId = module;
    packet->propIndex = propIndex;
    if (recordLength != 0) {
        std::memcpy(out + kKestConfigHeaderSize, record, recordLength);
    }
    return bytes;
}
