// How long a reader of the whole 5.12 s window of all 512 electrodes holds back the link.
//
// A writer thread stores raw samples of 16 front ends at the processor's pace (30 kHz), as
// the link thread does, and times every store. Meanwhile the benchmark reads the whole
// window of every electrode, once as the matrix read (GetContDataBlock) and once as the
// per-electrode float read (GetContDataRaw). Counters:
//   read_ms         the time one whole read takes, which is what a read holding the cache
//                   for its whole length would hold the link back;
//   link_stall_ms   the longest single store while the reads ran;
//   stall_per_read  link_stall_ms / read_ms.
// BM_NoReadStall gives the longest store with no reader, over as long as the reads took: what
// the machine's scheduling alone costs the writer.
#include "cache/KestCache.h"
#include "tests/cache/TestModel.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

using namespace testmodel;

namespace {

constexpr unsigned kFrontEnds = 16;
constexpr std::uint32_t kSamples = 153600;
constexpr std::uint32_t kElectrodes = kFrontEnds * 32;
using Clock = std::chrono::steady_clock;

void Store(KestCache& cache, Bytes& packet, std::uint32_t tick) {
    std::memcpy(packet.data() + 4, &tick, 4);
    cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
}

// A cache with every raw ring full, and a writer that goes on at 30 kHz once started.
class Link {
  public:
    Link() {
        for (const Bytes& packet : model_.DescribePackets()) {
            cache_.ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
        }
        for (unsigned k = 0; k < kFrontEnds; ++k) {
            packets_.push_back(ContPacket(2 * k + 1, 1, 0, std::vector<std::int16_t>(32, 7)));
        }
        for (tick_ = 1; tick_ <= kSamples; ++tick_) {
            for (Bytes& packet : packets_) {
                Store(cache_, packet, tick_);
            }
        }
    }

    ~Link() { Stop(); }

    void Start() {
        running_ = true;
        writer_ = std::thread([this] { Run(); });
    }

    void Stop() {
        running_ = false;
        if (writer_.joinable()) {
            writer_.join();
        }
    }

    KestCache& Cache() { return cache_; }
    double LongestStoreMs() const { return double(longestNs_.load()) / 1e6; }
    void ResetLongest() { longestNs_ = 0; }

  private:
    void Run() {
        const Clock::time_point begin = Clock::now();
        const std::uint32_t first = tick_;
        while (running_) {
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin);
            const std::uint32_t due = first + std::uint32_t(elapsed.count() * 30 / 1000);
            if (tick_ >= due) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
            for (; tick_ < due; ++tick_) {
                for (Bytes& packet : packets_) {
                    const Clock::time_point before = Clock::now();
                    Store(cache_, packet, tick_);
                    const auto took =
                        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - before)
                            .count();
                    if (took > longestNs_.load(std::memory_order_relaxed)) {
                        longestNs_.store(took, std::memory_order_relaxed);
                    }
                }
            }
        }
    }

    Processor model_{kFrontEnds};
    KestCache cache_;
    std::vector<Bytes> packets_;
    std::uint32_t tick_ = 1;
    std::atomic<bool> running_{false};
    std::atomic<std::int64_t> longestNs_{0};
    std::thread writer_;
};

template <typename Read> void MeasureHold(benchmark::State& state, Read read) {
    Link link;
    link.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    link.ResetLongest();
    double readMs = 0;
    for (auto _ : state) {
        const Clock::time_point begin = Clock::now();
        // The writer may be between front ends: the last may hold one sample less.
        if (read(link.Cache()) < int(kSamples) - 1) {
            state.SkipWithError("the read did not return the whole window");
            break;
        }
        readMs += std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
    }
    link.Stop();
    readMs /= double(std::max<std::int64_t>(1, state.iterations()));
    state.counters["read_ms"] = readMs;
    state.counters["link_stall_ms"] = link.LongestStoreMs();
    state.counters["stall_per_read"] = link.LongestStoreMs() / readMs;
}

std::vector<std::uint32_t> AllElectrodes() {
    std::vector<std::uint32_t> electrodes(kElectrodes);
    for (std::uint32_t e = 0; e < kElectrodes; ++e) {
        electrodes[e] = e;
    }
    return electrodes;
}

void BM_BlockReadHold(benchmark::State& state) {
    const std::vector<std::uint32_t> electrodes = AllElectrodes();
    std::vector<KestContBlockRun> runs;
    for (unsigned k = 0; k < kFrontEnds; ++k) {
        runs.push_back({2 * k + 1, 1, 32 * k, 32});
    }
    std::vector<double> matrix(std::size_t(kElectrodes) * kSamples);
    std::vector<std::uint32_t> delivered(kElectrodes);
    MeasureHold(state, [&](KestCache& cache) {
        std::uint32_t start = 0;
        return cache.GetContDataBlock(&start, matrix.data(), kElectrodes, kSamples, runs.data(),
                                      runs.size(), electrodes.data(), delivered.data(), 0, true);
    });
}
BENCHMARK(BM_BlockReadHold)->Unit(benchmark::kMillisecond)->Iterations(8);

void BM_NoReadStall(benchmark::State& state) {
    MeasureHold(state, [](KestCache&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return int(kSamples);
    });
}
BENCHMARK(BM_NoReadStall)->Unit(benchmark::kMillisecond)->Iterations(8);

void BM_RawReadHold(benchmark::State& state) {
    const std::vector<std::uint32_t> electrodes = AllElectrodes();
    std::vector<float> dest(std::size_t(kElectrodes) * kSamples);
    MeasureHold(state, [&](KestCache& cache) {
        std::uint32_t start = 0;
        return cache.GetContDataRaw(&start, dest.data(), kSamples, electrodes.data(), kElectrodes,
                                    0);
    });
}
BENCHMARK(BM_RawReadHold)->Unit(benchmark::kMillisecond)->Iterations(8);

} // namespace
