// HeldWindow: the window of one electrode that a continuous read settles under one hold of
// the cache lock and copies afterwards under a short hold of its own (see ContDataBuffer's
// reads in pieces).
#pragma once

#include "cache/ContDataBuffer.h"

#include <algorithm>
#include <cstdint>

// Tries of a read in pieces that the writer overtook; the last try holds the lock through.
constexpr int kHeldReadTries = 4;

struct HeldWindow {
    const ContDataBuffer<short>* shorts = nullptr;
    const ContDataBuffer<float>* floats = nullptr;
    float* dest = nullptr;
    std::uint32_t channel = 0;
    std::uint32_t time = 0; // of the first row
    std::uint32_t period = 1;
    std::uint32_t rows = 0;
    std::uint32_t jumps = 0;
    bool scale = true;
    // A factor every value is multiplied by after the copy.
    bool scaled = false;
    float factor = 1.0f;

    void Attach(const ContDataBuffer<short>* ring) { shorts = ring; }
    void Attach(const ContDataBuffer<float>* ring) { floats = ring; }

    // Settles the window of `channel` of `ring` that a read of `count` values from `time`
    // (0: the newest) gets, as the ring is now; returns the values it will hold. *outTime
    // receives the time of the first value as such a read reports it.
    template <typename Ring>
    int Plan(const Ring* ring, std::uint32_t from, std::uint32_t count, std::uint32_t* outTime) {
        if (ring == nullptr || channel >= ring->GetChannels() || !ring->CanStore()) {
            return 0;
        }
        std::uint32_t held = 0;
        if (from == 0) {
            if (!ring->HasRows()) {
                return 0;
            }
            held = std::min(count, ring->GetDepth());
            from = ring->GetLastTime() - (held - 1) * std::uint32_t(ring->GetPeriod());
            *outTime = from;
        } else {
            held = ring->RowsFrom(from);
            if (held == Ring::kNotHeld) {
                return 0;
            }
            held = std::min(count, held);
            if (held != 0) {
                *outTime = from;
            }
        }
        time = from;
        period = std::uint32_t(ring->GetPeriod());
        rows = held;
        jumps = ring->GetJumps();
        return int(held);
    }

    // Copies values [first, first + count) of the window, under the cache lock; false when
    // the ring no longer holds them.
    bool Copy(std::uint32_t first, std::uint32_t count) const {
        const std::uint32_t at = time + first * period;
        return shorts != nullptr
                   ? shorts->CopyHeldRows(dest + first, at, count, channel, scale, jumps)
                   : floats->CopyHeldRows(dest + first, at, count, channel, scale, jumps);
    }

    // Applies the factor to the copied values; needs no lock.
    void ApplyFactor() const {
        if (scaled) {
            for (std::uint32_t i = 0; i < rows; ++i) {
                dest[i] *= factor;
            }
        }
    }
};
