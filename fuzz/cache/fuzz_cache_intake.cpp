// Arbitrary bytes, cut into packets by their size byte, fed into a cache that already
// holds a complete processor model; then the reads that the library makes.
#include "cache/ErrorMessage.h"
#include "cache/KestCache.h"
#include "tests/cache/TestModel.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

const std::vector<testmodel::Bytes>& Description() {
    static const std::vector<testmodel::Bytes> packets = [] {
        testmodel::Processor model(2);
        return model.DescribePackets();
    }();
    return packets;
}

void Feed(KestCache& cache, const std::uint8_t* bytes) {
    cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(bytes));
}

// One model serves input after input. Data packets change only the rings, the clock and
// the error queue (drained after each input); an input that also carries configuration or
// operator packets may change the model itself, which is then built afresh for the next
// input. The rings are small, which keeps a rebuild cheap and lets an input wrap them.
constexpr CacheRingSizes kSmallRings{300, 16};

// An error message from the processor is a configuration packet too, but goes only to the
// error queue.
bool ChangesModel(const KestPacket* packet) {
    if (packet->procId != kKestProcessorId) {
        return true;
    }
    if (!packet->IsConfig()) {
        return false;
    }
    const auto* config = reinterpret_cast<const KestConfigPacket*>(packet);
    return config->moduleId != 0 || config->propIndex != kKestErrorPropIndex;
}

KestCache& Model(bool rebuild) {
    static std::unique_ptr<KestCache> cache;
    if (!cache || rebuild) {
        cache.reset();
        cache = std::make_unique<KestCache>(kSmallRings);
        for (const testmodel::Bytes& packet : Description()) {
            Feed(*cache, packet.data());
        }
    }
    return *cache;
}

} // namespace

// A small quarantine and short allocation stacks: a rebuild frees and allocates every ring,
// and the default quarantine turns that into fresh pages on each input.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=8:malloc_context_size=4";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool changed = true;
    KestCache& cache = Model(changed);
    changed = false;
    // Packets stand back to back; the receive side only ever hands over whole packets,
    // each in a word-aligned buffer.
    alignas(8) std::array<std::uint8_t, kKestMaxPacketSize> packet{};
    std::size_t offset = 0;
    while (offset < size) {
        std::size_t length = std::size_t(data[offset]) * 4;
        if (length == 0) {
            length = 4; // a size byte of 0 is still handed over, then skipped
        }
        if (offset + length > size) {
            break;
        }
        packet.fill(0);
        std::memcpy(packet.data(), data + offset, length);
        changed = changed || ChangesModel(reinterpret_cast<const KestPacket*>(packet.data()));
        Feed(cache, packet.data());
        offset += length;
    }

    std::uint32_t time = 0;
    std::vector<float> dest(4 * 64);
    const std::uint32_t electrodes[4] = {0, 5, 37, 10240};
    cache.GetContDataRaw(&time, dest.data(), 64, electrodes, 4, 0);
    cache.GetContDataLFP(&time, dest.data(), 64, electrodes, 4, 0);
    cache.GetContDataFloat(&time, dest.data(), 64, electrodes, 2, cache.GetPAXTime());
    cache.GetContDataStatus(&time, dest.data(), 64, electrodes, 3, 0);
    try {
        cache.GetSpikesByElec({0, 40});
        cache.GetStimCountsByElec({1, 33});
    } catch (const std::runtime_error&) {
    }
    KestDigitalEventPacket events[8];
    cache.GetDigitalInput(events, nullptr, 8);
    while (KestErrorMessage_t* message = cache.GetErrorBuffer().Pop()) {
        FreeErrorMessage(message);
    }
    char names[16][128];
    cache.GetStreamStrings(names, 16, 37);
    float values[64];
    cache.GetStimResOptions(0, values);
    cache.GetExhaustOptions(0, values);
    cache.HasStimCalib(0);
    cache.GetStimAddr();
    cache.GetFileSaveSelectionProp(40, nullptr);
    return 0;
}
