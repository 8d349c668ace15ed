// Bytes arriving at a link, through the link's own receive path into a cache that already
// holds a complete processor model: datagrams taken in batches and framed where they landed,
// or pieces of a stream gathered by an endpoint, then handed to the cache a batch at a time
// as the links do; then the reads that the library makes.
//
// Input: a mode byte (bit 0 a stream instead of datagrams, bit 1 data passed over as by a
// link that is behind, bit 2 the stream of an operator (host 130) instead of the
// processor's), then pieces, each a two-byte length (little-endian, modulo 4096) and that
// many bytes.
#include "cache/ErrorMessage.h"
#include "cache/KestCache.h"
#include "links/LinkIntake.h"
#include "tests/cache/TestModel.h"
#include "transport/CircularKestBuffer.h"
#include "transport/DatagramBatch.h"
#include "transport/IOClient.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

// Holds the fuzzer's invariants; a broken one aborts so the fuzzer reports the input.
void Require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// One model serves input after input; an input that hands the cache a configuration packet
// (other than an error message from the processor, which goes only to the error queue,
// drained after each input) has it built afresh for the next. What data packets leave
// behind (ring contents, the processor time, a configuration seen as changed, the empty
// entries of operators that sent data) is kept, as a link would keep it. The rings are
// small, which keeps a rebuild cheap and lets an input wrap them.
constexpr CacheRingSizes kSmallRings{300, 16};

bool ChangesModel(const KestPacket* packet) {
    if (!packet->IsConfig()) {
        return false;
    }
    const auto* config = reinterpret_cast<const KestConfigPacket*>(packet);
    return packet->procId != kKestProcessorId || config->moduleId != 0 ||
           config->propIndex != kKestErrorPropIndex;
}

// Whether any packet of a run (whole packets end to end, as the framing gives them) may
// change the model; checks that the run is made of whole packets.
bool RunChangesModel(const std::uint8_t* bytes, std::uint64_t length) {
    bool changes = false;
    std::uint64_t offset = 0;
    while (offset < length) {
        const std::uint64_t size = std::uint64_t(bytes[offset]) * 4;
        Require(size != 0 && size <= length - offset);
        if (size >= kKestHeaderSize) {
            changes = changes || ChangesModel(reinterpret_cast<const KestPacket*>(bytes + offset));
        }
        offset += size;
    }
    return changes;
}

KestCache& Model(bool rebuild) {
    static const std::vector<testmodel::Bytes> description = [] {
        testmodel::Processor model(2);
        return model.DescribePackets();
    }();
    static std::unique_ptr<KestCache> cache;
    if (!cache || rebuild) {
        cache.reset();
        cache = std::make_unique<KestCache>(kSmallRings);
        for (const testmodel::Bytes& packet : description) {
            cache->ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
        }
    }
    return *cache;
}

struct Piece {
    const std::uint8_t* bytes;
    std::size_t length;
};

std::vector<Piece> Pieces(const std::uint8_t* data, std::size_t size) {
    std::vector<Piece> pieces;
    std::size_t offset = 0;
    while (offset + 2 <= size) {
        const std::size_t wanted =
            (std::size_t(data[offset]) | std::size_t(data[offset + 1]) << 8) % 4096;
        offset += 2;
        const std::size_t length = std::min(wanted, size - offset);
        pieces.push_back({data + offset, length});
        offset += length;
    }
    return pieces;
}

// Datagrams of up to a batch at a time into the link's batch receive, fed as the datagram
// link feeds them. True when a packet fed may have changed the model.
bool RunDatagrams(KestCache& cache, const std::vector<Piece>& pieces, bool configOnly) {
    static Network::DatagramBatch batch;
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_DGRAM, 0, sockets) != 0) {
        return false;
    }
    bool changes = false;
    std::size_t next = 0;
    while (next < pieces.size()) {
        // A local datagram socket queues only a few datagrams.
        const std::size_t end = std::min(pieces.size(), next + 8);
        std::size_t sent = 0;
        for (; next < end; ++next) {
            if (send(sockets[1], pieces[next].bytes, pieces[next].length, MSG_DONTWAIT) ==
                long(pieces[next].length)) {
                ++sent;
            }
        }
        const std::uint64_t droppedBefore = batch.DroppedPackets();
        const int got = batch.Receive(sockets[0]);
        Require(got == int(sent));
        for (unsigned i = 0; i < batch.Count(); ++i) {
            const Network::DatagramBatch::Datagram& datagram = batch.At(i);
            changes = RunChangesModel(datagram.packets, datagram.length) || changes;
        }
        Require(batch.DroppedPackets() >= droppedBefore);
        Network::FeedDatagrams(cache, batch, configOnly);
    }
    close(sockets[0]);
    close(sockets[1]);
    return changes;
}

// Pieces written into a stream, each read and fed as the stream link does; the endpoint
// keeps a packet cut between pieces until the rest arrives.
bool RunStream(KestCache& cache, const std::vector<Piece>& pieces, std::uint32_t source) {
    static Network::CircularKestBuffer ring(1 << 12, "fuzz-link");
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sockets) != 0) {
        return false;
    }
    sockaddr_in peer{};
    Network::IOClient endpoint(sockets[0], ring, 4096, 8192, peer, 0);
    bool changes = false;
    for (const Piece& piece : pieces) {
        if (piece.length == 0 ||
            send(sockets[1], piece.bytes, piece.length, MSG_DONTWAIT) != long(piece.length)) {
            continue;
        }
        while (endpoint.RecvFromNetwork(0) > 0) {
            const std::uint8_t* bytes = nullptr;
            const std::uint64_t length = endpoint.HeldPackets(&bytes);
            if (length == 0) {
                break;
            }
            changes = RunChangesModel(bytes, length) || changes;
            Network::FeedStream(cache, endpoint, source);
            Require(endpoint.HeldPackets(&bytes) == 0);
        }
    }
    close(sockets[1]);
    return changes;
}

void Read(KestCache& cache) {
    std::uint32_t time = 0;
    std::vector<float> dest(4 * 64);
    const std::uint32_t electrodes[4] = {0, 5, 37, 10240};
    cache.GetContDataRaw(&time, dest.data(), 64, electrodes, 4, 0);
    cache.GetContDataFloat(&time, dest.data(), 64, electrodes, 2, cache.GetPAXTime());
    KestDigitalEventPacket events[8];
    cache.GetDigitalInput(events, nullptr, 8);
    while (KestErrorMessage_t* message = cache.GetErrorBuffer().Pop()) {
        FreeErrorMessage(message);
    }
}

} // namespace

// A small quarantine and short allocation stacks: a rebuild frees and allocates every ring.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=8:malloc_context_size=4";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > 65536) {
        return 0;
    }
    static bool changed = true;
    KestCache& cache = Model(changed);
    const std::uint8_t mode = data[0];
    const std::vector<Piece> pieces = Pieces(data + 1, size - 1);
    if ((mode & 1) != 0) {
        const std::uint32_t source = (mode & 4) != 0 ? 0x822A007Fu : kKestNoSource;
        changed = RunStream(cache, pieces, source);
    } else {
        changed = RunDatagrams(cache, pieces, (mode & 2) != 0);
    }
    Read(cache);
    return 0;
}
