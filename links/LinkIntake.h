// What a link received, handed to the cache a batch at a time: every datagram of one
// receive, or every whole packet a stream endpoint holds, under one hold of the cache's lock.
// The packets are read where they were received; nothing is copied or allocated.
#pragma once

#include <cstddef>
#include <cstdint>

class KestCache;

namespace Network {

class DatagramBatch;
class IOClient;

// Which senders a link takes packets from: packets that claim to come from the processor
// only from the processor's own addresses, operators' packets from any host of the wired or
// the wireless network. Addresses in network order; 0 for none.
struct SenderRule {
    std::uint32_t processorHosts[3] = {};
    std::uint32_t networks[2] = {}; // any host of each network
    bool FromProcessor(std::uint32_t source) const;
    bool OnNetworks(std::uint32_t source) const;
};

// The whole packets of every datagram of the latest receive of `batch`, each filed under its
// datagram's sender. With `configOnly`, data packets are passed over; returns how many were.
// With `senders`, packets the rule refuses are dropped and added to `*refused`.
std::size_t FeedDatagrams(KestCache& cache, const DatagramBatch& batch, bool configOnly,
                          const SenderRule* senders = nullptr, std::uint64_t* refused = nullptr);
// Every whole packet that `endpoint` holds, as received from `source`; the packets are
// removed from the endpoint afterwards. A packet of size 0 at the front is discarded with
// everything held behind it, as the endpoint does.
void FeedStream(KestCache& cache, IOClient& endpoint, std::uint32_t source);

} // namespace Network
