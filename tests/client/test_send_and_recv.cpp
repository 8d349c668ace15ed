// Confirmed writes against a cache that a simulated processor answers: the echo arrives, the
// echo differs, no echo comes within the timeout (measured on the clock), and properties
// whose size the cache does not know.
#include "ClientKit.h"
#include "EchoProcessor.h"

#include "client/KestClient.h"
#include "client/KestSendAndRecv.h"

#include <gtest/gtest.h>

using clientkit::CountingSink;
using clientkit::EchoProcessor;
using Clock = std::chrono::steady_clock;

namespace {

class Confirmed : public ::testing::Test {
  protected:
    void SetUp() override {
        cache = clientkit::ReadyCache();
        ASSERT_NE(cache->GetGlobalStimEnable(&enableModule, &enableProp), nullptr);
        ASSERT_NE(cache->GetStimResComboBox(0, &comboModule, &comboProp), nullptr);
        for (unsigned i = 1; i < 200; ++i) {
            KestProperty* record = cache->GetKestProperty(0, i);
            if (record != nullptr && record->type == kKestIntegerType) {
                intProp = int(i);
                break;
            }
        }
        ASSERT_GT(intProp, 0);
    }

    std::uint8_t CachedByte(int module, int prop, std::size_t offset) {
        const KestProperty* record = cache->GetKestProperty(unsigned(module), unsigned(prop));
        auto hold = cache->GetLock();
        return reinterpret_cast<const std::uint8_t*>(record)[offset];
    }

    std::unique_ptr<KestCache> cache;
    CountingSink sink;
    KestClient client{&sink};
    int enableModule = -1, enableProp = -1;
    int comboModule = -1, comboProp = -1;
    int intProp = -1;
};

TEST_F(Confirmed, EchoArrives) {
    EchoProcessor processor(sink, *cache, EchoProcessor::Mode::Echo);
    KestSendAndRecv confirmed(&client, cache.get(), 1000);
    // The cached value is 1 (enabled); write 0 and see the echo land in the cache.
    EXPECT_TRUE(confirmed.SendBool(unsigned(enableModule), unsigned(enableProp), false));
    EXPECT_EQ(CachedByte(enableModule, enableProp, 1), kKestBoolType);
    EXPECT_EQ(CachedByte(enableModule, enableProp, 4), 0);

    EXPECT_TRUE(confirmed.SendInt(0, unsigned(intProp), -123456));
    KestInteger stored{};
    {
        const KestProperty* record = cache->GetKestProperty(0, unsigned(intProp));
        auto hold = cache->GetLock();
        std::memcpy(&stored, record, sizeof stored);
    }
    EXPECT_EQ(stored.value, -123456);

    KestComboBox box{};
    {
        const KestProperty* record =
            cache->GetKestProperty(unsigned(comboModule), unsigned(comboProp));
        auto hold = cache->GetLock();
        std::memcpy(&box, record, sizeof box);
    }
    box.selection = 2;
    EXPECT_TRUE(confirmed.SendComboBox(box, unsigned(comboModule), unsigned(comboProp)));
    EXPECT_EQ(box.selection, 2);
    EXPECT_EQ(box.itemCount, 3);
    EXPECT_EQ(processor.Answered(), 3);
}

TEST_F(Confirmed, WholeRecordHoldsTheEcho) {
    EchoProcessor processor(sink, *cache, EchoProcessor::Mode::Alter);
    KestSendAndRecv confirmed(&client, cache.get(), 1000);
    KestInteger record{{1, kKestIntegerType, 0, 0}, 40};
    EXPECT_TRUE(confirmed.SendKestProperty(record, 0, unsigned(intProp)));
    EXPECT_EQ(record.value, 41) << "the record holds what the processor answered";
}

TEST_F(Confirmed, EchoDiffers) {
    EchoProcessor processor(sink, *cache, EchoProcessor::Mode::Alter);
    KestSendAndRecv confirmed(&client, cache.get(), 60000);
    const auto start = Clock::now();
    EXPECT_FALSE(confirmed.SendBool(unsigned(enableModule), unsigned(enableProp), false));
    EXPECT_FALSE(confirmed.SendInt(0, unsigned(intProp), 8));
    KestComboBox box{};
    box.head = {1, kKestComboBoxType, 0, 0};
    box.selection = 0;
    EXPECT_FALSE(confirmed.SendComboBox(box, unsigned(comboModule), unsigned(comboProp)));
    EXPECT_EQ(box.selection, 1);
    EXPECT_EQ(processor.Answered(), 3);
    // Each call returned on its echo, not at its minute-long timeout.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
}

TEST_F(Confirmed, NoEchoTimesOutOnTheClock) {
    // A missing echo ends the wait at its deadline on the monotonic clock: not sooner, and
    // (the bound only catches a hang) not never.
    EchoProcessor processor(sink, *cache, EchoProcessor::Mode::Silent);
    KestSendAndRecv confirmed(&client, cache.get(), 2000);
    EXPECT_EQ(confirmed.GetTimeoutUsec(), 2000000u);
    const auto start = Clock::now();
    EXPECT_FALSE(confirmed.SendBool(unsigned(enableModule), unsigned(enableProp), false));
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(2000));
    EXPECT_LT(waited, std::chrono::seconds(30));
    // The write went out, and the cached copy stays cleared until an echo comes.
    EXPECT_EQ(sink.publishes.load(), 1);
    EXPECT_EQ(CachedByte(enableModule, enableProp, 1), 0);
}

TEST_F(Confirmed, ZeroTimeoutSendsAndGivesUp) {
    KestSendAndRecv confirmed(&client, cache.get(), 0);
    const auto start = Clock::now();
    EXPECT_FALSE(confirmed.SendBool(unsigned(enableModule), unsigned(enableProp), true));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)) << "no wait for an echo";
    EXPECT_EQ(sink.publishes.load(), 1);
}

TEST_F(Confirmed, UnknownSizeFailsWithoutSending) {
    KestSendAndRecv confirmed(&client, cache.get(), 50);
    KestBool record{{1, kKestBoolType, 0, 0}, 1, {}};
    EXPECT_FALSE(confirmed.SendKestProperty(record, 0, 5000)); // beyond the module
    EXPECT_FALSE(confirmed.SendKestProperty(record, 77, 1));   // no such module
    EXPECT_FALSE(confirmed.SendBool(77, 1, true));
    EXPECT_FALSE(confirmed.SendInt(0, 5000, 1));
    KestComboBox box{};
    EXPECT_FALSE(confirmed.SendComboBox(box, 77, 1));
    // A cached record longer than the caller's buffer cannot be sent or copied back.
    EXPECT_FALSE(confirmed.SendKestProperty(record, unsigned(comboModule), unsigned(comboProp)));
    EXPECT_EQ(sink.WriteHead(), 0u);
    EXPECT_EQ(CachedByte(comboModule, comboProp, 1), kKestComboBoxType) << "left uncleared";
}

TEST_F(Confirmed, NoConnection) {
    KestClient* savedClient = gKestClient;
    KestCache* savedCache = gKestCache;
    gKestClient = nullptr;
    gKestCache = nullptr;
    KestSendAndRecv confirmed;
    EXPECT_FALSE(confirmed.SendBool(0, 1, true));
    gKestClient = savedClient;
    gKestCache = savedCache;
}

TEST(Sleeps, SleepAtLeastAsAsked) {
    const auto start = Clock::now();
    KestSendAndRecv::SleepUsec(0);
    KestSendAndRecv::SleepMs(0);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    KestSendAndRecv::SleepMs(20);
    KestSendAndRecv::SleepUsec(1000);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(21));
}

} // namespace
