// Cost of the continuous ring on the receive path (one 32-channel row per packet, also after
// a gap) and on the read path (one channel over the whole 5.12 s of a 30 kHz stream).
#include "cache/ContDataBuffer.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr std::uint32_t kChannels = 32;

static void BM_AddTimeSample(benchmark::State& state) {
    ContDataBuffer<short> ring(kContRingTicks, kChannels, 1, 0.25);
    std::vector<short> row(kChannels);
    for (std::uint32_t c = 0; c < kChannels; ++c) {
        row[c] = static_cast<short>(c * 11);
    }
    std::uint32_t time = 1;
    for (auto _ : state) {
        ring.AddTimeSample(row.data(), time++);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddTimeSample);

// A row after a gap of `range(0)` missing samples: 1 (one marker row) or a jump of many rings,
// which costs no more than the short gap.
static void BM_AddAfterGap(benchmark::State& state) {
    ContDataBuffer<short> ring(kContRingTicks, kChannels, 1, 0.25);
    std::vector<short> row(kChannels);
    const std::uint32_t step = std::uint32_t(state.range(0)) + 1;
    std::uint32_t time = 1;
    for (auto _ : state) {
        ring.AddTimeSample(row.data(), time);
        time += step;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddAfterGap)->Arg(1)->Arg(10 * kContRingTicks);

static void BM_GetDataFromTop(benchmark::State& state) {
    ContDataBuffer<short> ring(kContRingTicks, kChannels, 1, 0.25);
    std::vector<short> row(kChannels);
    // Fill the ring and a little more, so that the window straddles the end of the ring.
    for (std::uint32_t t = 1; t <= kContRingTicks + 1000; ++t) {
        row[5] = static_cast<short>(t);
        ring.AddTimeSample(row.data(), t);
    }
    std::vector<float> dest(kContRingTicks);
    const bool scale = state.range(0) != 0;
    for (auto _ : state) {
        std::uint32_t start = 0;
        benchmark::DoNotOptimize(
            ring.GetDataFromTop(&start, dest.data(), 5, kContRingTicks, scale));
        benchmark::DoNotOptimize(dest.data());
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(kContRingTicks));
}
BENCHMARK(BM_GetDataFromTop)->Arg(1)->Arg(0);

} // namespace
