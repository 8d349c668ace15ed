// Long reads of the continuous rings while a writer thread laps them: every value and every
// start stays exactly what the rings held when the read began.
#include "TestModel.h"

#include "cache/KestCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

using namespace testmodel;

namespace {

constexpr unsigned kFrontEnds = 2;
constexpr unsigned kElectrodes = kFrontEnds * 32;
constexpr std::uint32_t kDepth = 3000; // raw samples a ring holds (period 1)

// Channel c of sample time t carries a value that names both.
std::int16_t Value(std::uint32_t t, unsigned c) {
    return std::int16_t((t * 7 + c * 131) % 20000 - 10000);
}

// Stores raw samples of every front end, one time after the other, as far as it is let.
class Writer {
  public:
    explicit Writer(KestCache& cache) : cache_(cache) {
        for (unsigned k = 0; k < kFrontEnds; ++k) {
            packets_.push_back(ContPacket(2 * k + 1, 1, 0, std::vector<std::int16_t>(32, 0)));
        }
        for (std::uint32_t t = 1; t <= kDepth; ++t) {
            Store(t);
        }
        thread_ = std::thread([this] {
            while (!stop_) {
                const std::uint32_t t = newest_.load() + 1;
                if (t <= limit_.load()) {
                    Store(t);
                } else {
                    std::this_thread::yield();
                }
            }
        });
    }
    ~Writer() {
        stop_ = true;
        thread_.join();
    }
    // The newest time stored on every front end.
    std::uint32_t Newest() const { return newest_.load(); }
    // Lets the writer store `samples` more.
    void Let(std::uint32_t samples) { limit_ = newest_.load() + samples; }

  private:
    void Store(std::uint32_t t) {
        for (unsigned k = 0; k < kFrontEnds; ++k) {
            Bytes& packet = packets_[k];
            std::memcpy(packet.data() + 4, &t, 4);
            for (unsigned c = 0; c < 32; ++c) {
                const std::int16_t value = Value(t, c);
                std::memcpy(packet.data() + 12 + 2 * c, &value, 2);
            }
            cache_.ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
        }
        newest_ = t;
    }

    KestCache& cache_;
    std::vector<Bytes> packets_;
    std::atomic<std::uint32_t> newest_{0};
    std::atomic<std::uint32_t> limit_{kDepth};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class ReadWhileWritingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const Bytes& packet : model.DescribePackets()) {
            cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
        }
        ASSERT_TRUE(cache.IsInit());
        for (std::uint32_t e = 0; e < kElectrodes; ++e) {
            electrodes.push_back(e);
        }
    }

    // Reads until the writer has lapped the rings three times and `reads` reads were made.
    // Before each read the writer is let on by `step(n)` samples, which it stores while the
    // read runs.
    template <typename Step, typename Read>
    void WhileLapping(Writer& writer, int reads, Step step, Read read) {
        const std::uint32_t first = writer.Newest();
        for (int n = 0; n < reads || writer.Newest() < first + 3 * kDepth; ++n) {
            writer.Let(step(n));
            read();
            if (HasFailure()) {
                return;
            }
        }
    }

    Processor model{kFrontEnds};
    KestCache cache{CacheRingSizes{kDepth, 64}};
    std::vector<std::uint32_t> electrodes;
};

TEST_F(ReadWhileWritingTest, MatrixReadOfTheWholeWindowStaysExactAndAligned) {
    std::vector<KestContBlockRun> runs;
    for (unsigned k = 0; k < kFrontEnds; ++k) {
        runs.push_back({2 * k + 1, 1, 32 * k, 32});
    }
    std::vector<double> matrix(std::size_t(kElectrodes) * kDepth);
    std::vector<std::uint32_t> delivered(kElectrodes);
    Writer writer(cache);
    // Mostly less than the slack the rings keep beyond their depth, so that the read copies
    // in pieces; now and then two rings' worth, so that the writer overtakes the read and it
    // starts again.
    auto step = [](int n) { return n % 4 == 3 ? 2 * kDepth : kDepth / 6; };
    WhileLapping(writer, 60, step, [&] {
        std::uint32_t start = 0;
        cache.GetContDataBlock(&start, matrix.data(), kElectrodes, kDepth, runs.data(), runs.size(),
                               electrodes.data(), delivered.data(), 0, false);
        for (unsigned k = 0; k < kElectrodes; ++k) {
            // The first front end gives the whole window; a later one, stored after it, may
            // lack its newest sample.
            ASSERT_GE(delivered[k], k < 32 ? kDepth : kDepth - 1) << "electrode " << k;
            for (std::uint32_t j = 0; j < delivered[k]; ++j) {
                ASSERT_EQ(matrix[std::size_t(j) * kElectrodes + k],
                          double(Value(start + j, k % 32)))
                    << "electrode " << k << " sample " << j << " from " << start;
            }
        }
    });
}

TEST_F(ReadWhileWritingTest, ElectrodeReadsFromATimeStayExact) {
    constexpr std::uint32_t kCount = kDepth / 2;
    static_assert(kDepth - kDepth / 6 > kCount, "the window lies in the ring");
    std::vector<float> dest(std::size_t(kElectrodes) * kCount);
    Writer writer(cache);
    WhileLapping(
        writer, 20, [](int) { return kDepth / 6; },
        [&] {
            // A window that lies wholly in the rings when the read begins, whatever the writer
            // stores before that.
            const std::uint32_t time = writer.Newest() + kDepth / 6 - kDepth + 1;
            std::uint32_t start = 0;
            ASSERT_EQ(cache.GetContDataRaw(&start, dest.data(), kCount, electrodes.data(),
                                           kElectrodes, time),
                      int(kCount));
            ASSERT_EQ(start, time);
            for (unsigned k = 0; k < kElectrodes; ++k) {
                for (std::uint32_t j = 0; j < kCount; ++j) {
                    // Raw values are a quarter microvolt a count.
                    ASSERT_EQ(dest[std::size_t(k) * kCount + j],
                              float(Value(time + j, k % 32)) * 0.25f)
                        << "electrode " << k << " sample " << j << " from " << time;
                }
            }
        });
}

} // namespace
