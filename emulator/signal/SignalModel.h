// The synthetic signals of the emulated processor: deterministic functions of a seed,
// a channel key and the processor time, so that a test can compute every sample, spike
// and event the emulator sends.
//
// Continuous samples. A channel of a stream has the key electrode + 16384 × ordinal,
// where electrode is 32 f + c for channel c of front end f (10240 + c on the analog
// module) and ordinal numbers the stream kinds (StreamOrdinal). With
//   h = 75 + 7 × (key mod 97), x = (t + 131 × key) mod 2h, A = 800,
//   triangle = x < h ? −A + 2A·x / h : A − 2A·(x − h) / h   (integer division, truncating),
//   noise = Mix(seed, key, t) mod 33 − 16,
// the 16-bit sample at processor time t is triangle + noise; float streams carry the same
// value times 0.25 as a float.
//
// Spikes. Channel e (electrode) at rate r per second has base interval b = 30000 / r ticks
// (integer, at least 2). Its first spike is at Mix(seed, e, 0x7FFFFFFF) mod b, and spike k + 1
// follows spike k after b / 2 + Mix(seed, e | 0x40000000, k + 1) mod b ticks. Spike k has
// unit Mix(seed, e ^ 0x5A5A, k) mod 4 and the waveform SpikeWaveform(unit).
//
// Digital input events at rate r: event k (from 0) at time (k + 1) × (30000 / r), parallel
// value Mix(seed, 0xD161, k) & 0xFFFF, reason 1, single-line input i = (k >> i) & 1.
#pragma once

#include "protocol/KestPacket.h"

#include <cstdint>
#include <string>

namespace paxsim {

std::uint32_t Mix(std::uint32_t seed, std::uint32_t a, std::uint32_t b);

// Stream kinds in key order; -1 for names the generator does not fill.
int StreamOrdinal(const std::string& name);
constexpr std::uint32_t kAnalogElectrodeBase = 10240;

std::uint32_t ChannelKey(std::uint32_t electrode, int ordinal);
std::int16_t ContinuousSample(std::uint32_t seed, std::uint32_t key, std::uint32_t time);
float FloatSample(std::uint32_t seed, std::uint32_t key, std::uint32_t time);

// Spike schedule of one channel; Next() walks it.
class SpikeTrain {
  public:
    SpikeTrain() = default;
    SpikeTrain(std::uint32_t seed, std::uint32_t electrode, double rate);
    bool Active() const { return base_ != 0; }
    std::uint32_t Time() const { return time_; } // of spike Index()
    std::uint32_t Index() const { return index_; }
    std::uint16_t Unit() const;
    void Next();

  private:
    std::uint32_t seed_ = 0;
    std::uint32_t electrode_ = 0;
    std::uint32_t base_ = 0;
    std::uint32_t time_ = 0;
    std::uint32_t index_ = 0;
};

void SpikeWaveform(std::uint16_t unit, std::int16_t (&waveform)[kKestSegmentWaveformSamples]);

struct DigitalEvent {
    std::uint32_t time;
    std::uint16_t parallel;
    std::uint16_t sma[4];
};
// Event k of a stream at rate events per second (rate > 0).
DigitalEvent DigitalEventAt(std::uint32_t seed, double rate, std::uint32_t k);

} // namespace paxsim
