#include "emulator/signal/SignalModel.h"

namespace paxsim {

std::uint32_t Mix(std::uint32_t seed, std::uint32_t a, std::uint32_t b) {
    std::uint32_t h = seed * 0x9E3779B1u ^ a * 0x85EBCA77u ^ b * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

int StreamOrdinal(const std::string& name) {
    static const char* const names[] = {"raw", "HW Status", "lfp",    "hi-res", "hifreq",
                                        "emg", "spkfilt",   "30ksps", "1ksps"};
    for (int i = 0; i < int(sizeof names / sizeof names[0]); ++i) {
        if (name == names[i]) {
            return i;
        }
    }
    return -1;
}

std::uint32_t ChannelKey(std::uint32_t electrode, int ordinal) {
    return electrode + 16384u * std::uint32_t(ordinal);
}

std::int16_t ContinuousSample(std::uint32_t seed, std::uint32_t key, std::uint32_t time) {
    const std::int64_t amplitude = 800;
    const std::int64_t half = 75 + 7 * std::int64_t(key % 97);
    const std::int64_t x = (std::int64_t(time) + 131 * std::int64_t(key)) % (2 * half);
    const std::int64_t triangle = x < half ? -amplitude + 2 * amplitude * x / half
                                           : amplitude - 2 * amplitude * (x - half) / half;
    const std::int64_t noise = std::int64_t(Mix(seed, key, time) % 33) - 16;
    return static_cast<std::int16_t>(triangle + noise);
}

float FloatSample(std::uint32_t seed, std::uint32_t key, std::uint32_t time) {
    return float(ContinuousSample(seed, key, time)) * 0.25f;
}

SpikeTrain::SpikeTrain(std::uint32_t seed, std::uint32_t electrode, double rate)
    : seed_(seed), electrode_(electrode) {
    if (rate > 0) {
        double base = 30000.0 / rate;
        base_ = base < 2 ? 2u : base > 1e9 ? 1000000000u : std::uint32_t(base);
        time_ = Mix(seed_, electrode_, 0x7FFFFFFF) % base_;
    }
}

std::uint16_t SpikeTrain::Unit() const {
    return static_cast<std::uint16_t>(Mix(seed_, electrode_ ^ 0x5A5A, index_) % 4);
}

void SpikeTrain::Next() {
    ++index_;
    time_ += base_ / 2 + Mix(seed_, electrode_ | 0x40000000u, index_) % base_;
}

void SpikeWaveform(std::uint16_t unit, std::int16_t (&waveform)[kKestSegmentWaveformSamples]) {
    // A trough at sample 12 and a slower positive rebound, larger for higher units.
    const int depth = 300 + 250 * int(unit);
    for (int i = 0; i < int(kKestSegmentWaveformSamples); ++i) {
        int d = i - 12;
        int trough = d >= -4 && d <= 4 ? -depth * (5 - (d < 0 ? -d : d)) / 5 : 0;
        int rebound = i > 14 && i < 40 ? depth / 3 * (i < 24 ? i - 14 : 40 - i) / 10 : 0;
        waveform[i] = static_cast<std::int16_t>(trough + rebound);
    }
}

DigitalEvent DigitalEventAt(std::uint32_t seed, double rate, std::uint32_t k) {
    std::uint32_t interval = rate > 0 ? std::uint32_t(30000.0 / rate) : 30000u;
    if (interval == 0) {
        interval = 1;
    }
    DigitalEvent event{};
    event.time = (k + 1) * interval;
    event.parallel = static_cast<std::uint16_t>(Mix(seed, 0xD161, k) & 0xFFFF);
    for (unsigned i = 0; i < 4; ++i) {
        event.sma[i] = static_cast<std::uint16_t>((k >> i) & 1);
    }
    return event;
}

} // namespace paxsim
