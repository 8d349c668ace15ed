#include "links/LinkIntake.h"

#include "cache/KestCache.h"
#include "transport/DatagramBatch.h"
#include "transport/IOClient.h"

#include <netinet/in.h>

namespace Network {

namespace {

// The number of packets a datagram's bytes announce, up to the first that does not fit.
std::uint64_t PacketsIn(const std::uint8_t* bytes, std::size_t length) {
    std::uint64_t packets = 0;
    for (std::size_t offset = 0; offset < length && bytes[offset] != 0;) {
        offset += std::size_t(bytes[offset]) * 4;
        ++packets;
    }
    return packets;
}

} // namespace

bool SenderRule::FromProcessor(std::uint32_t source) const {
    for (std::uint32_t host : processorHosts) {
        if (host != 0 && host == source) {
            return true;
        }
    }
    return false;
}

bool SenderRule::OnNetworks(std::uint32_t source) const {
    const std::uint32_t prefix = htonl(0xFFFFFF00u);
    for (std::uint32_t network : networks) {
        if (network != 0 && (source & prefix) == (network & prefix)) {
            return true;
        }
    }
    return false;
}

std::size_t FeedDatagrams(KestCache& cache, const DatagramBatch& batch, bool configOnly,
                          const SenderRule* senders, std::uint64_t* refused) {
    KestPacketRun runs[DatagramBatch::kSlots];
    std::size_t count = 0;
    for (unsigned i = 0; i < batch.Count(); ++i) {
        const DatagramBatch::Datagram& datagram = batch.At(i);
        if (datagram.length == 0) {
            continue;
        }
        const bool processor = senders == nullptr || senders->FromProcessor(datagram.source);
        if (!processor && !senders->OnNetworks(datagram.source)) {
            if (refused != nullptr) {
                *refused += PacketsIn(datagram.packets, std::size_t(datagram.length));
            }
            continue;
        }
        runs[count++] = {datagram.packets, std::size_t(datagram.length), datagram.source,
                         processor};
    }
    return count == 0 ? 0 : cache.ProcKestPackets(runs, count, configOnly, refused);
}

void FeedStream(KestCache& cache, IOClient& endpoint, std::uint32_t source) {
    const std::uint8_t* packets = nullptr;
    const std::uint64_t length = endpoint.HeldPackets(&packets);
    if (length == 0) {
        return;
    }
    const KestPacketRun run{packets, std::size_t(length), source};
    cache.ProcKestPackets(&run, 1);
    endpoint.ReleasePackets(length);
}

} // namespace Network
