#include "links/LinkIntake.h"

#include "cache/KestCache.h"
#include "transport/DatagramBatch.h"
#include "transport/IOClient.h"

namespace Network {

std::size_t FeedDatagrams(KestCache& cache, const DatagramBatch& batch, bool configOnly) {
    KestPacketRun runs[DatagramBatch::kSlots];
    std::size_t count = 0;
    for (unsigned i = 0; i < batch.Count(); ++i) {
        const DatagramBatch::Datagram& datagram = batch.At(i);
        if (datagram.length != 0) {
            runs[count++] = {datagram.packets, std::size_t(datagram.length), datagram.source};
        }
    }
    return count == 0 ? 0 : cache.ProcKestPackets(runs, count, configOnly);
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
