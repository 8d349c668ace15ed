// Continuous windows of several electrodes in one pass of each ring they come from. A ring
// holds one row per time sample with every channel side by side, and the caller's matrix
// holds one column per time sample with every electrode side by side, so each ring row maps
// onto one matrix column. Rows are taken out of a ring a block at a time into a small buffer
// and spread from there, so that neither side is walked once per electrode.
#include "cache/KestCache.h"

#include "cache/ContDataBuffer.h"
#include "cache/HeldWindow.h"
#include "cache/KestCachePieces.h"
#include "cache/ModuleData.h"

#include <algorithm>
#include <vector>

namespace {

// Values per block of rows, copied under one hold of the lock: a few tens of microseconds.
constexpr std::uint32_t kBlockValues = 65536;
// Rows of every ring copied before the next rows of any.
constexpr std::uint32_t kSlabRows = 2048;

// The ring of one run, whichever sample type it holds.
struct RunRing {
    const ContDataBuffer<short>* shorts = nullptr;
    const ContDataBuffer<float>* floats = nullptr;

    template <typename Fn> auto Visit(Fn fn) const { return shorts ? fn(*shorts) : fn(*floats); }
};

// True once the ring has stored a row: a read of no rows reports its channels only then.
template <typename Ring> bool Stored(const Ring& ring) {
    std::uint32_t channels = 0;
    ring.GetAllData(nullptr, nullptr, &channels, 0, false);
    return channels != 0;
}

// How far `start` must move on for the ring to still hold it, in ticks (0 when it does).
template <typename Ring> std::uint32_t Overrun(const Ring& ring, std::uint32_t start) {
    const std::uint32_t period = std::uint32_t(ring.GetPeriod());
    const std::int32_t elapsed = std::int32_t(ring.GetLastTime() + period - start);
    if (elapsed <= 0) {
        return 0; // the ring lags behind start: nothing to move
    }
    const std::uint32_t rows = std::uint32_t(elapsed) / period;
    return rows > ring.GetDepth() ? (rows - ring.GetDepth()) * period : 0;
}

// Blocks of stored values, one for each sample type.
struct Blocks {
    std::vector<short> shorts;
    std::vector<float> floats;

    std::vector<short>& For(const ContDataBuffer<short>&) { return shorts; }
    std::vector<float>& For(const ContDataBuffer<float>&) { return floats; }
};

// Copies rows [from, from + count) of the rows from the first row at or after `time`, rows
// that the ring held when it had made `jumps` far jumps, into the columns of dest:
// channels[k] into row k (skipped when the ring lacks that channel). With `pieces` the lock
// is taken (by `take`) for each block of rows only, and only to copy the stored values: they
// are converted after it is let go. False when the ring no longer held the rows (nothing is
// then known about dest).
template <typename Ring, typename Take>
bool CopyColumns(const Ring& ring, double* dest, std::size_t leading, std::uint32_t from,
                 std::uint32_t count, const std::uint32_t* channels, std::uint32_t rows,
                 std::uint32_t time, bool scale, std::uint32_t jumps, Blocks& blocks,
                 std::unique_lock<std::mutex>& hold, bool pieces, Take take) {
    const std::uint32_t width = ring.GetChannels();
    const std::uint32_t period = std::uint32_t(ring.GetPeriod());
    const double ringScale = ring.GetScale();
    const std::uint32_t blockRows = std::max<std::uint32_t>(1, kBlockValues / width);
    auto& block = blocks.For(ring);
    block.resize(std::size_t(blockRows) * width);
    for (std::uint32_t total = from; total < from + count;) {
        const std::uint32_t want = std::min(blockRows, from + count - total);
        if (pieces) {
            take();
        }
        const bool held = ring.CopyHeldRaw(block.data(), time + total * period, want, jumps);
        if (pieces) {
            hold.unlock();
        }
        if (!held) {
            return false;
        }
        for (std::uint32_t r = 0; r < want; ++r) {
            const auto* row = block.data() + std::size_t(r) * width;
            double* column = dest + std::size_t(total + r) * leading;
            for (std::uint32_t k = 0; k < rows; ++k) {
                if (channels[k] < width) {
                    column[k] = double(Ring::ToFloat(row[channels[k]], scale, ringScale));
                }
            }
        }
        total += want;
    }
    return true;
}

} // namespace

int KestCache::GetContDataBlock(std::uint32_t* outTime, double* dest, std::size_t leading,
                                std::uint32_t count, const KestContBlockRun* runs,
                                std::size_t runCount, const std::uint32_t* electrodes,
                                std::uint32_t* delivered, std::uint32_t time, bool scale) {
    std::unique_lock<std::mutex> hold(lock_);
    if (runs == nullptr || electrodes == nullptr || delivered == nullptr || runCount == 0) {
        return 0;
    }
    for (std::size_t r = 0; r < runCount; ++r) {
        if (std::size_t(runs[r].first) + runs[r].size > leading) {
            return 0;
        }
        std::fill_n(delivered + runs[r].first, runs[r].size, 0u);
    }
    if (dest == nullptr || count == 0) {
        return 0;
    }
    hold.unlock();
    const PieceReader reading(*this);

    // What to read is settled under one hold: the rings, the common start and the rows of
    // every run, as the rings are at that moment. The rows are then copied a block at a time,
    // each block under its own short hold, so that the link stores packets in between; the
    // rings keep those rows in place meanwhile (rings are never destroyed while the cache
    // lives). A read the writer overtakes starts again; the last try holds the lock through.
    std::vector<RunRing> rings(runCount);
    std::vector<std::uint32_t> channels(leading, 0);
    std::vector<std::uint32_t> rowsOf(runCount, 0);
    std::vector<std::uint32_t> jumps(runCount, 0);
    Blocks blocks;
    for (int attempt = 1;; ++attempt) {
        const bool pieces = attempt < kHeldReadTries;
        hold.lock();
        // The ring of every run and the channels of its electrodes; a run whose ring never
        // stored a row, or carries none of its channels, reads nothing.
        std::fill(rings.begin(), rings.end(), RunRing{});
        for (std::size_t r = 0; r < runCount; ++r) {
            const KestContBlockRun& run = runs[r];
            ModuleData* store = FindModule(run.module);
            const auto* desc = store == nullptr ? nullptr
                                                : reinterpret_cast<const KestOutputStreamDesc*>(
                                                      store->GetOutputStreamDesc(int(run.stream)));
            RunRing ring;
            if (desc != nullptr && (desc->dataKind == kKestContinuousData ||
                                    desc->dataKind == kKestContinuousData16)) {
                ring.shorts = store->GetContDataBuffer(int(run.stream));
            } else if (desc != nullptr && desc->dataKind == kKestFloatData) {
                ring.floats = store->GetFloatDataBuffer(int(run.stream));
            }
            if (ring.shorts == nullptr && ring.floats == nullptr) {
                continue;
            }
            const std::uint32_t width =
                ring.Visit([](const auto& ring) { return ring.GetChannels(); });
            bool any = false;
            for (std::uint32_t k = run.first; k < run.first + run.size; ++k) {
                channels[k] = electrodes[k] % 32;
                any = any || channels[k] < width;
            }
            if (any && ring.Visit([](const auto& ring) { return Stored(ring); })) {
                rings[r] = ring;
            }
        }
        auto usable = [&](std::size_t r) {
            return rings[r].shorts != nullptr || rings[r].floats != nullptr;
        };

        std::uint32_t start = time;
        if (time == 0) {
            std::size_t first = 0;
            while (first < runCount && !usable(first)) {
                ++first;
            }
            if (first == runCount) {
                return 0;
            }
            start = rings[first].Visit([&](const auto& ring) {
                const std::uint32_t newest = std::min(count, ring.GetDepth());
                return ring.GetLastTime() - (newest - 1) * std::uint32_t(ring.GetPeriod());
            });
            // A ring that took newer rows since then no longer holds the oldest ones.
            std::uint32_t shift = 0;
            for (std::size_t r = first; r < runCount; ++r) {
                if (usable(r)) {
                    shift = std::max(shift, rings[r].Visit([&](const auto& ring) {
                        return Overrun(ring, start);
                    }));
                }
            }
            start += shift;
        }
        // The rows of every run from the start on (none, with the ring's warning, when the
        // ring does not hold the start).
        for (std::size_t r = 0; r < runCount; ++r) {
            rowsOf[r] = 0;
            if (usable(r)) {
                rings[r].Visit([&](const auto& ring) {
                    const std::uint32_t held = ring.RowsFrom(start);
                    rowsOf[r] = held == ring.kNotHeld ? 0 : std::min(count, held);
                    jumps[r] = ring.GetJumps();
                });
            }
        }
        if (pieces) {
            hold.unlock();
        }

        // Oldest rows first across every ring: the writer overwrites only rows older than
        // those being copied, so a read is overtaken only when it runs slower than the
        // stream for longer than the slack.
        bool whole = true;
        for (std::uint32_t from = 0; from < count && whole; from += kSlabRows) {
            for (std::size_t r = 0; r < runCount && whole; ++r) {
                const KestContBlockRun& run = runs[r];
                if (rowsOf[r] > from) {
                    const std::uint32_t slab = std::min(kSlabRows, rowsOf[r] - from);
                    whole = rings[r].Visit([&](const auto& ring) {
                        return CopyColumns(ring, dest + run.first, leading, from, slab,
                                           &channels[run.first], run.size, start, scale, jumps[r],
                                           blocks, hold, pieces, [&] { TakeForPiece(hold); });
                    });
                }
            }
        }
        if (!pieces) {
            hold.unlock();
        }
        if (!whole) {
            continue;
        }

        bool read = false;
        int last = 0;
        for (std::size_t r = 0; r < runCount; ++r) {
            const KestContBlockRun& run = runs[r];
            const std::uint32_t width =
                usable(r) ? rings[r].Visit([](const auto& ring) { return ring.GetChannels(); }) : 0;
            for (std::uint32_t k = run.first; k < run.first + run.size; ++k) {
                delivered[k] = channels[k] < width ? rowsOf[r] : 0;
            }
            read = read || rowsOf[r] != 0;
            if (run.size != 0) {
                last = int(delivered[run.first + run.size - 1]);
            }
        }
        if (read && outTime != nullptr) {
            *outTime = start;
        }
        return last;
    }
}
