#include "transport/DatagramFrame.h"

#include "protocol/KestPacket.h"

namespace Network {

std::uint64_t FrameDatagram(const std::uint8_t* datagram, std::uint64_t length, std::uint64_t room,
                            std::uint64_t* dropped) {
    std::uint64_t offset = 0;
    std::uint64_t kept = 0;
    bool keeping = true;
    while (offset < length) {
        const std::uint64_t left = length - offset;
        const std::uint64_t size =
            left >= kKestHeaderSize ? std::uint64_t(datagram[offset]) * 4 : 0;
        if (size < kKestHeaderSize || size > left) {
            ++*dropped;
            break;
        }
        keeping = keeping && offset + size <= room;
        if (keeping) {
            kept = offset + size;
        } else {
            ++*dropped;
        }
        offset += size;
    }
    return kept;
}

} // namespace Network
