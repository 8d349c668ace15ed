// The cache taking a link's receive a batch at a time: every run of packets in order, data
// passed over for a link that is behind, the rest of a run cut short counted, error callbacks
// run without the lock in the middle of a batch, and waiters woken by configuration packets.
#include "TestModel.h"

#include "cache/ErrorMessage.h"
#include "cache/KestCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace testmodel;

namespace {

constexpr CacheRingSizes kRings{3000, 64};

struct Batch {
    std::vector<Bytes> runs;
    std::vector<KestPacketRun> Runs() const {
        std::vector<KestPacketRun> out;
        for (const Bytes& run : runs) {
            out.push_back({run.data(), run.size(), kKestNoSource});
        }
        return out;
    }
    std::size_t Feed(KestCache& cache, bool configOnly = false) const {
        const auto list = Runs();
        return cache.ProcKestPackets(list.data(), list.size(), configOnly);
    }
};

Bytes Join(std::initializer_list<Bytes> packets) {
    Bytes run;
    for (const Bytes& packet : packets) {
        run.insert(run.end(), packet.begin(), packet.end());
    }
    return run;
}

std::vector<std::int16_t> Row(std::int16_t value) {
    return std::vector<std::int16_t>(32, value);
}

class BatchIntake : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const Bytes& packet : model.DescribePackets()) {
            cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
        }
        ASSERT_TRUE(cache.IsInit());
    }
    // The newest `count` raw samples of electrode 0 (front end 0, channel 0).
    std::vector<float> Newest(std::uint32_t count, std::uint32_t* start) {
        std::vector<float> values(count, -1.0f);
        const std::uint32_t electrode = 0;
        cache.GetContDataRaw(start, values.data(), count, &electrode, 1, 0);
        return values;
    }
    Processor model{2};
    KestCache cache{kRings};
};

void DrainErrors(KestCache& cache) {
    while (KestErrorMessage_t* message = cache.GetErrorBuffer().Pop()) {
        FreeErrorMessage(message);
    }
}

TEST_F(BatchIntake, RunsAreTakenInOrderAndACutRestIsCounted) {
    Bytes cut = Join({ContPacket(1, 1, 5002, Row(3)), ContPacket(1, 1, 5003, Row(4))});
    cut.resize(cut.size() - 6);
    const Batch batch{{Join({ContPacket(1, 1, 5000, Row(1)), ContPacket(1, 1, 5001, Row(2))}), cut,
                       Join({ErrorPacket(4, 9, "in the batch"), ContPacket(1, 1, 5003, Row(5))})}};
    EXPECT_EQ(batch.Feed(cache), 0u);
    std::uint32_t start = 0;
    EXPECT_EQ(Newest(4, &start), (std::vector<float>{0.25f, 0.5f, 0.75f, 1.25f}));
    EXPECT_EQ(start, 5000u);
    EXPECT_EQ(cache.GetMalformedCount(), 1u) << "the packet cut at the end of its run";
    EXPECT_EQ(cache.GetErrorBuffer().Size(), 1u);
    DrainErrors(cache);
}

TEST_F(BatchIntake, ALinkBehindPassesOverDataButKeepsConfiguration) {
    const Batch batch{{Join({ContPacket(1, 1, 6000, Row(1)), ErrorPacket(4, 1, "kept"),
                             ContPacket(3, 1, 6000, Row(1))}),
                       Join({ContPacket(1, 1, 6001, Row(2))})}};
    EXPECT_EQ(Batch{{ContPacket(1, 1, 5999, Row(1))}}.Feed(cache), 0u);
    const std::uint64_t arrivals = cache.ConfigArrivals();
    EXPECT_EQ(batch.Feed(cache, true), 3u);
    EXPECT_EQ(cache.GetErrorBuffer().Size(), 1u);
    EXPECT_NE(cache.ConfigArrivals(), arrivals);
    std::uint32_t start = 0;
    Newest(1, &start);
    EXPECT_EQ(start, 5999u) << "no data taken";
    DrainErrors(cache);

    const std::uint64_t before = cache.ConfigArrivals();
    EXPECT_EQ(Batch{{ContPacket(1, 1, 6002, Row(1))}}.Feed(cache), 0u);
    EXPECT_EQ(cache.ConfigArrivals(), before) << "data wakes no waiter";
}

struct Asking {
    KestCache* cache;
    std::atomic<int> calls{0};
    std::atomic<std::uint32_t> timeSeen{0};
};

// Asks the cache from inside the callback: deadlocks if called with the lock held.
void AskTheCache(void* user, const KestErrorMessage_t* /*message*/) {
    auto* asking = static_cast<Asking*>(user);
    const std::uint32_t time = asking->cache->GetPAXTime();
    if (asking->calls.fetch_add(1) == 0) {
        asking->timeSeen = time;
    }
}

TEST_F(BatchIntake, ErrorCallbacksRunUnlockedAndTheBatchGoesOn) {
    Asking asking{&cache};
    ASSERT_TRUE(cache.RegisterKestErrorCallback(AskTheCache, &asking));
    Bytes first = ErrorPacket(4, 1, "one");
    reinterpret_cast<KestPacket*>(first.data())->timestamp = 7000;
    const Batch batch{{Join({first, ErrorPacket(4, 2, "two"), ContPacket(1, 1, 7001, Row(9))})}};
    batch.Feed(cache);
    EXPECT_EQ(asking.calls.load(), 2);
    EXPECT_EQ(asking.timeSeen.load(), 7000u) << "the first callback ran before the second packet";
    std::uint32_t start = 0;
    EXPECT_EQ(Newest(1, &start), std::vector<float>{2.25f});
    EXPECT_EQ(start, 7001u);
    cache.UnregisterKestErrorCallback(AskTheCache, &asking);
    DrainErrors(cache);
}

TEST_F(BatchIntake, AWaiterWakesWhenAConfigurationPacketIsTakenIn) {
    using Clock = std::chrono::steady_clock;
    const std::uint64_t seen = cache.ConfigArrivals();
    EXPECT_FALSE(cache.WaitForConfig(seen, Clock::now() - std::chrono::seconds(1)))
        << "a deadline passed already";
    std::atomic<bool> woken{false};
    std::thread waiter(
        [&] { woken = cache.WaitForConfig(seen, Clock::now() + std::chrono::seconds(60)); });
    const Batch batch{{ErrorPacket(4, 3, "an answer")}};
    batch.Feed(cache);
    waiter.join();
    EXPECT_TRUE(woken.load());
    DrainErrors(cache);
}

} // namespace
