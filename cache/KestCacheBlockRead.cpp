// Continuous windows of several electrodes of one stream in one pass of its ring. The ring
// holds one row per time sample with every channel side by side, and the caller's matrix
// holds one column per time sample with every electrode side by side, so each ring row maps
// onto one matrix column. Rows are taken out of the ring a block at a time into a small
// buffer and spread from there, so that neither side is walked once per electrode.
#include "cache/KestCache.h"

#include "cache/ContDataBuffer.h"
#include "cache/ModuleData.h"

#include <algorithm>
#include <vector>

namespace {

// Values per block of rows: small enough to stay in the first-level data cache.
constexpr std::uint32_t kBlockValues = 4096;

template <typename Ring>
int ReadBlocks(const Ring* ring, std::uint32_t* outTime, double* dest, std::size_t leading,
               std::uint32_t count, const std::uint32_t* electrodes, std::uint32_t electrodeCount,
               std::uint32_t* delivered, std::uint32_t time, bool scale) {
    std::fill_n(delivered, electrodeCount, 0u);
    if (ring == nullptr) {
        return 0;
    }
    const std::uint32_t width = ring->GetChannels();
    std::vector<std::uint32_t> channels(electrodeCount);
    bool any = false;
    for (std::uint32_t k = 0; k < electrodeCount; ++k) {
        channels[k] = electrodes[k] % 32;
        any = any || channels[k] < width;
    }
    if (!any || width == 0) {
        return 0;
    }
    const std::uint32_t period = std::uint32_t(ring->GetPeriod());
    std::uint32_t first = time;
    if (time == 0) {
        // The newest `count` rows, as a read of one channel from the top would take them. A
        // ring that never stored a row reports no channels to a read of no rows.
        std::uint32_t stored = 0;
        ring->GetAllData(nullptr, nullptr, &stored, 0, false);
        count = std::min(count, ring->GetDepth());
        if (stored == 0 || count == 0) {
            return 0;
        }
        first = ring->GetLastTime() - (count - 1) * period;
    }

    const std::uint32_t blockRows = std::max<std::uint32_t>(1, kBlockValues / width);
    std::vector<float> block(std::size_t(blockRows) * width);
    std::uint32_t total = 0;
    while (total < count) {
        const std::uint32_t want = std::min(blockRows, count - total);
        std::uint32_t rowWidth = 0;
        const std::uint32_t got = ring->GetAllDataByTimeStamp(block.data(), &rowWidth,
                                                              first + total * period, want, scale);
        for (std::uint32_t r = 0; r < got; ++r) {
            const float* row = block.data() + std::size_t(r) * width;
            double* column = dest + std::size_t(total + r) * leading;
            for (std::uint32_t k = 0; k < electrodeCount; ++k) {
                if (channels[k] < width) {
                    column[k] = double(row[channels[k]]);
                }
            }
        }
        total += got;
        if (got < want) {
            break;
        }
    }
    if (total == 0) {
        return 0;
    }
    for (std::uint32_t k = 0; k < electrodeCount; ++k) {
        delivered[k] = channels[k] < width ? total : 0;
    }
    if (outTime != nullptr) {
        *outTime = first;
    }
    return int(total);
}

} // namespace

int KestCache::GetContDataBlock(std::uint32_t* outTime, double* dest, std::size_t leading,
                                std::uint32_t count, unsigned module, unsigned stream,
                                const std::uint32_t* electrodes, std::uint32_t electrodeCount,
                                std::uint32_t* delivered, std::uint32_t time, bool scale) {
    std::lock_guard<std::mutex> hold(lock_);
    if (electrodeCount == 0 || electrodes == nullptr || delivered == nullptr) {
        return 0;
    }
    std::fill_n(delivered, electrodeCount, 0u);
    ModuleData* store = FindModule(module);
    if (store == nullptr || dest == nullptr || leading < electrodeCount) {
        return 0;
    }
    const KestOutputStreamDesc* desc =
        reinterpret_cast<const KestOutputStreamDesc*>(store->GetOutputStreamDesc(int(stream)));
    if (desc == nullptr) {
        return 0;
    }
    switch (desc->dataKind) {
    case kKestContinuousData:
    case kKestContinuousData16:
        return ReadBlocks(store->GetContDataBuffer(int(stream)), outTime, dest, leading, count,
                          electrodes, electrodeCount, delivered, time, scale);
    case kKestFloatData:
        return ReadBlocks(store->GetFloatDataBuffer(int(stream)), outTime, dest, leading, count,
                          electrodes, electrodeCount, delivered, time, scale);
    default:
        return 0;
    }
}
