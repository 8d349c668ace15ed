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

namespace {

// The links' ring takes no packet once the link thread has stopped (a processor stream that
// closed): nothing would ever send it, so the sender reports the packet as not queued
// instead of as on its way.
class LinkRingSink : public KestRingSink {
  public:
    LinkRingSink() : KestRingSink(Network::OperNetwork::gConfigBuffer) {}
    KestPacket* NewConfigPacket(std::size_t size) override {
        if (Network::OperNetwork::gNetworkState.load() == Network::OperNetwork::kLinkStopped) {
            return nullptr;
        }
        return KestRingSink::NewConfigPacket(size);
    }
};

} // namespace

KestRingSink& KestDefaultConfigSink() {
    static LinkRingSink sink;
    return sink;
}
