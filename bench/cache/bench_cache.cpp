// Packet intake of the cache under a full-load mix (one packet at a time, and datagrams of a
// receive at a time as the link hands them), and multi-electrode retrieval of
// 5.12 s of raw data from 512 electrodes next to a plain copy of the same bytes.
#include "cache/ContDataBuffer.h"
#include "cache/KestCache.h"
#include "cache/PacketRun.h"
#include "tests/cache/TestModel.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace testmodel;

namespace {

constexpr unsigned kFrontEnds = 16;

void Describe(KestCache& cache, Processor& model) {
    for (const Bytes& packet : model.DescribePackets()) {
        cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
    }
}

// One millisecond of full load, packets back to back in one buffer: per front end 30 raw
// samples (32 x int16 at 30 kHz), one lfp sample (1 kHz), two hi-res samples (2 kHz
// float), and spikes at about 10 per channel per second.
struct Mix {
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> offsets;
    std::vector<std::size_t> timeFields;
    // The packets of every stream but the 30 kHz ones.
    std::vector<std::size_t> slowOffsets;

    void Append(const Bytes& packet, bool slow = true) {
        if (slow) {
            slowOffsets.push_back(bytes.size());
        }
        offsets.push_back(bytes.size());
        timeFields.push_back(bytes.size() + 4);
        bytes.insert(bytes.end(), packet.begin(), packet.end());
    }

    explicit Mix(unsigned milliseconds) {
        std::uint16_t sequence = 0;
        for (std::uint32_t tick = 30; tick < 30 + 30 * milliseconds; ++tick) {
            for (unsigned k = 0; k < kFrontEnds; ++k) {
                const unsigned hw = 2 * k + 1;
                std::vector<std::int16_t> row(32, std::int16_t(tick));
                Append(ContPacket(hw, 1, tick, row), false);
                if (tick % 30 == 0) {
                    Append(ContPacket(hw + 1, 1, tick, row));
                }
                if (tick % 15 == 0) {
                    Append(FloatPacket(hw + 1, 2, tick, std::vector<float>(32, float(tick))));
                }
                if ((tick + k) % 94 == 0) {
                    Append(SegmentPacket(hw + 1, 3 + (tick % 32), tick, ++sequence, 1));
                }
            }
        }
    }

    // Moves every timestamp on, so that a replay stores fresh samples.
    void Advance(std::uint32_t ticks) {
        for (std::size_t field : timeFields) {
            std::uint32_t time;
            std::memcpy(&time, &bytes[field], 4);
            time += ticks;
            std::memcpy(&bytes[field], &time, 4);
        }
    }
};

// Datagrams as the emulated processor fills them, and how many one receive of the link takes.
constexpr std::size_t kDatagramBytes = 1440;
constexpr std::size_t kDatagramsPerReceive = 32;

// Cuts the mix into runs of whole packets of at most kDatagramBytes, as datagrams carry them.
std::vector<KestPacketRun> Datagrams(const Mix& mix) {
    std::vector<KestPacketRun> runs;
    for (std::size_t i = 0; i < mix.offsets.size();) {
        const std::size_t first = mix.offsets[i];
        std::size_t end = first;
        while (i < mix.offsets.size() && mix.offsets[i] == end &&
               end + mix.bytes[end] * 4u - first <= kDatagramBytes) {
            end += mix.bytes[end] * 4u;
            ++i;
        }
        runs.push_back(KestPacketRun{&mix.bytes[first], end - first, kKestNoSource, true});
    }
    return runs;
}

// The mix replayed into a described cache, 100 ms of data at a time, each replay with fresh
// timestamps; `feed` hands one replay to the cache.
template <typename Feed> void ReplayIntake(benchmark::State& state, Feed feed) {
    Processor model(kFrontEnds);
    KestCache cache;
    Describe(cache, model);
    if (!cache.IsInit()) {
        state.SkipWithError("model did not initialise the cache");
        return;
    }
    const unsigned milliseconds = 100;
    Mix mix(milliseconds);
    // The rings take their pages from the system as the writer first reaches them; one pass
    // over every ring (depth and slack) before timing measures the intake as it runs from
    // then on, not the first pass's page faults: the whole mix for as long as a 30 kHz ring
    // holds, then the slower streams alone until their 1 kHz rings are passed too (a ring
    // keeps as many rows whatever its rate).
    const std::uint32_t ringMs = (kContRingTicks + kContRingTicks / 4) / 30;
    for (std::uint32_t done = 0; done <= ringMs; done += milliseconds) {
        feed(cache, mix);
        mix.Advance(30 * milliseconds);
    }
    for (std::uint32_t done = ringMs; done <= 30 * ringMs; done += milliseconds) {
        for (std::size_t offset : mix.slowOffsets) {
            cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(&mix.bytes[offset]));
        }
        mix.Advance(30 * milliseconds);
    }
    std::size_t packets = 0;
    for (auto _ : state) {
        feed(cache, mix);
        packets += mix.offsets.size();
        state.PauseTiming();
        mix.Advance(30 * milliseconds);
        state.ResumeTiming();
    }
    if (cache.GetStatus() != 0) {
        state.SkipWithError("the mix disturbed the cache");
    }
    state.SetItemsProcessed(std::int64_t(packets));
    state.counters["packets_per_replay"] = double(mix.offsets.size());
}

// One packet at a time, each under its own hold of the lock.
void BM_CacheIntake(benchmark::State& state) {
    ReplayIntake(state, [](KestCache& cache, const Mix& mix) {
        for (std::size_t offset : mix.offsets) {
            cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(&mix.bytes[offset]));
        }
    });
}
BENCHMARK(BM_CacheIntake)->Unit(benchmark::kMillisecond);

// As the UDP link hands them over: the datagrams of one receive under one hold.
void BM_CacheIntakeBatched(benchmark::State& state) {
    std::vector<KestPacketRun> runs;
    ReplayIntake(state, [&runs](KestCache& cache, const Mix& mix) {
        if (runs.empty()) {
            runs = Datagrams(mix); // the mix's bytes stay where they are; only times move on
        }
        for (std::size_t at = 0; at < runs.size(); at += kDatagramsPerReceive) {
            cache.ProcKestPackets(runs.data() + at,
                                  std::min(kDatagramsPerReceive, runs.size() - at), false, nullptr);
        }
    });
}
BENCHMARK(BM_CacheIntakeBatched)->Unit(benchmark::kMillisecond);

constexpr std::uint32_t kSamples = 153600;
constexpr std::uint32_t kElectrodes = kFrontEnds * 32;

void BM_ContRetrieval512(benchmark::State& state) {
    Processor model(kFrontEnds);
    KestCache cache;
    Describe(cache, model);
    std::vector<std::int16_t> row(32);
    for (std::uint32_t tick = 1; tick <= kSamples; ++tick) {
        for (unsigned k = 0; k < kFrontEnds; ++k) {
            for (unsigned c = 0; c < 32; ++c) {
                row[c] = std::int16_t(tick + c);
            }
            Bytes packet = ContPacket(2 * k + 1, 1, tick, row);
            cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
        }
    }
    std::vector<std::uint32_t> electrodes(kElectrodes);
    for (std::uint32_t e = 0; e < kElectrodes; ++e) {
        electrodes[e] = e;
    }
    std::vector<float> dest(std::size_t(kElectrodes) * kSamples);
    for (auto _ : state) {
        std::uint32_t start = 0;
        int read =
            cache.GetContDataRaw(&start, dest.data(), kSamples, electrodes.data(), kElectrodes, 0);
        benchmark::DoNotOptimize(read);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(dest.size()) * 4);
}
BENCHMARK(BM_ContRetrieval512)->Unit(benchmark::kMillisecond);

void BM_Memcpy512(benchmark::State& state) {
    std::vector<float> source(std::size_t(kElectrodes) * kSamples, 1.0f);
    std::vector<float> dest(source.size());
    for (auto _ : state) {
        std::memcpy(dest.data(), source.data(), source.size() * sizeof(float));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(dest.size()) * 4);
}
BENCHMARK(BM_Memcpy512)->Unit(benchmark::kMillisecond);

} // namespace
