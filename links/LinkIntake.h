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

// The whole packets of every datagram of the latest receive of `batch`, each filed under its
// datagram's sender. With `configOnly`, data packets are passed over; returns how many were.
std::size_t FeedDatagrams(KestCache& cache, const DatagramBatch& batch, bool configOnly);
// Every whole packet that `endpoint` holds, as received from `source`; the packets are
// removed from the endpoint afterwards. A packet of size 0 at the front is discarded with
// everything held behind it, as the endpoint does.
void FeedStream(KestCache& cache, IOClient& endpoint, std::uint32_t source);

} // namespace Network
