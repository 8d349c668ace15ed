// The values the cache's queries hand out: front-end versions, drained segment rings, the
// runs of a block read, segment counts, and the cache's status.
#pragma once

#include "protocol/KestPacket.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Front-end version parsed from a module's hardware version text.
struct KestFEVersion {
    std::string name; // part number and revision, the first 11 characters
    int major = 0;
    int minor = 0;
    int build = 0;
};

// Drained segment ring of one electrode: the newest records oldest first, the number of
// packets that arrived since the previous read, and the number of sequence gaps seen.
struct KestSegmentBlock {
    std::vector<KestSegmentDataPacketFixed> records;
    std::uint32_t count = 0;
    std::uint32_t missing = 0;
};

// Rows [first, first + size) of a block read of continuous windows (GetContDataBlock): the
// electrodes read from one stream of one module.
struct KestContBlockRun {
    unsigned module = 0;
    unsigned stream = 0;
    std::uint32_t first = 0;
    std::uint32_t size = 0;
};

// Counts of one electrode's segment ring: (missing count, count).
using KestSegmentCount = std::pair<std::uint32_t, std::uint32_t>;

// The cache's status (KestCache::GetStatus).
enum KestCacheStatus : int {
    kCacheReady = 0,             // every module and property has arrived; initialised
    kCacheNoProcessor = 1,       // no packet of the processor yet
    kCacheModulesMissing = 2,    // modules announced but not all arrived
    kCachePropertiesMissing = 3, // properties announced but not all arrived
    kCacheConfigChanged = 4,     // the processor's configuration changed under the cache
    kCacheAwaitingInit = 5,      // everything arrived; not yet marked initialised
};

// Panel properties of the processor's own module (module 0), by panel number.
enum class KestPanelProp { Button, ButtonMonitor, Led, LedMonitor };

// The source of a packet that came from no particular endpoint (0.0.0.0): its descriptors
// are stored under the processor id of its header.
constexpr std::uint32_t kKestNoSource = 0;

// How far the processor's description has arrived: modules held, modules whose properties
// have not all arrived, properties held over every module, and whether every announced
// module is held with all its properties.
struct KestCacheProgress {
    bool complete = false;
    std::size_t modules = 0;
    std::size_t incomplete = 0;
    std::size_t properties = 0;
};
