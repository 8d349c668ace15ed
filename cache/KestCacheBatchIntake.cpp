// Packet intake of KestCache by the batch: every packet of a link's receive under one hold
// of the lock. An error message that has callbacks to go to is the only thing that lets the
// lock go before the end: its callbacks run unlocked, then the intake goes on.
#include "cache/KestCache.h"

std::size_t KestCache::ProcKestPackets(const KestPacketRun* runs, std::size_t count,
                                       bool configOnly, std::uint64_t* refused) {
    std::size_t skipped = 0;
    bool config = false;
    std::size_t run = 0;
    std::size_t offset = 0;
    while (run < count) {
        DeferredError deferred;
        {
            const std::unique_lock<std::mutex> hold = TakeForIntake();
            while (run < count && deferred.message == nullptr) {
                const KestPacketRun& packets = runs[run];
                const std::size_t left = packets.length - offset;
                const std::size_t size = left != 0 ? std::size_t(packets.bytes[offset]) * 4 : 0;
                if (size == 0 || size > left) {
                    if (left != 0) {
                        Malformed();
                    }
                    ++run;
                    offset = 0;
                    continue;
                }
                const auto* packet = reinterpret_cast<const KestPacket*>(packets.bytes + offset);
                offset += size;
                if (size < kKestHeaderSize) {
                    Malformed();
                    continue;
                }
                if (!packets.processor && packet->procId == kKestProcessorId) {
                    if (refused != nullptr) {
                        ++*refused;
                    }
                    continue;
                }
                if (configOnly && !packet->IsConfig()) {
                    ++skipped;
                    continue;
                }
                config = config || (packet->procId == kKestProcessorId && packet->IsConfig());
                IntakeLocked(packet, packets.source, deferred);
            }
        }
        Deliver(deferred);
    }
    if (config) {
        ConfigArrived();
    }
    return skipped;
}
