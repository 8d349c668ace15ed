#include "client/KestConfigSink.h"

#include "transport/ClientFamily.h"

#include <cstdint>
#include <cstring>

KestPacket* KestRingSink::NewConfigPacket(std::size_t size) {
    if (size < kKestHeaderSize || size > kKestMaxPacketSize) {
        return nullptr;
    }
    const std::size_t rounded = (size + 3) / 4 * 4;
    std::uint8_t* area = ring_.Reserve(rounded);
    if (area == nullptr) {
        return nullptr;
    }
    // The ring hands out bytes of earlier laps; bytes a packet does not set must read 0.
    std::memset(area, 0, rounded);
    return reinterpret_cast<KestPacket*>(area);
}

void KestRingSink::SendConfigPacket() {
    ring_.Publish();
}

KestRingSink& KestDefaultConfigSink() {
    static KestRingSink sink(Network::OperNetwork::gConfigBuffer);
    return sink;
}
