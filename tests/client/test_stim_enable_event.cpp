// The timed stimulation switch-off: it clears and disables after its delay, sends only the
// enable write when it enables, and is woken and waited for when cancelled or when the
// client it sends through goes away.
#include "ClientKit.h"

#include "client/KestClient.h"
#include "client/events/StimEnableEvent.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using clientkit::Bytes;
using clientkit::CountingSink;
using clientkit::Field;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kModule = 0;
constexpr int kProp = 3;

class TimedEvent : public ::testing::Test {
  protected:
    void SetUp() override {
        client = std::make_unique<KestClient>(&sink);
        client->SetStimAddr({{5, {1, 100}}, {9, {1, 104}}});
    }

    // Waits for the event's thread to end, for at most a generous 30 s.
    static bool Finishes(const KestEvent& event) {
        const auto until = Clock::now() + std::chrono::seconds(30);
        while (event.IsRunning() && Clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return !event.IsRunning();
    }

    CountingSink sink;
    std::unique_ptr<KestClient> client;
};

TEST_F(TimedEvent, ClearsThenDisablesAfterItsDelay) {
    StimEnableEvent event(500, client.get(), kModule, kProp, false);
    event.AddClearElecList({5, 9});
    const auto start = Clock::now();
    ASSERT_TRUE(event.Start());
    EXPECT_TRUE(event.IsRunning());
    EXPECT_EQ(sink.publishes.load(), 0) << "sent before its delay";
    ASSERT_TRUE(Finishes(event));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(500));

    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(sink.publishes.load(), 2); // the clear, then the enable write
    EXPECT_EQ(Field<std::uint16_t>(packets[0], 10), 100);
    EXPECT_EQ(Field<std::uint16_t>(packets[1], 10), 104);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(packets[i].size(), 32u);
        EXPECT_EQ(Field<std::uint32_t>(packets[i], 28), 0x10000000u); // end of current cycle
    }
    const Bytes disable = {5, 0, 0, 0, 1, 0, 0, 0, 1, kModule, kProp, 0, 1, 3, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(packets[2], disable);
    EXPECT_FALSE(event.Start()) << "an event runs once";
}

TEST_F(TimedEvent, EnablingEventSendsOnlyTheWrite) {
    StimEnableEvent event(0, client.get(), kModule, kProp, true);
    event.AddClearElecList({5, 9});
    EXPECT_TRUE(event.GetClearElecList().empty());
    ASSERT_TRUE(event.Start());
    ASSERT_TRUE(Finishes(event));
    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0][16], 1);
}

TEST_F(TimedEvent, CancelWakesTheSleepingEvent) {
    // A delay far longer than the test may take: only the cancel can end the wait.
    StimEnableEvent event(600000, client.get(), kModule, kProp, false);
    event.AddClearElecList({5});
    ASSERT_TRUE(event.Start());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto start = Clock::now();
    event.Cancel();
    event.Join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(event.IsRunning());
    EXPECT_TRUE(event.IsCancelled());
    EXPECT_EQ(sink.WriteHead(), 0u);
}

TEST_F(TimedEvent, ShutdownCancelsAndJoinsBeforeTheClientGoes) {
    // The event used to keep sleeping past the close and then send through the destroyed
    // client.
    auto event = std::make_unique<StimEnableEvent>(600000, client.get(), kModule, kProp, false);
    event->AddClearElecList({5, 9});
    ASSERT_TRUE(event->Start());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto start = Clock::now();
    client.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(event->IsRunning());
    EXPECT_EQ(sink.WriteHead(), 0u);
    event.reset(); // after the client: must not reach back into it
}

TEST_F(TimedEvent, DestroyingASleepingEventWaitsForIt) {
    auto event = std::make_unique<StimEnableEvent>(80, client.get(), kModule, kProp, false);
    event->AddClearElecList({9});
    ASSERT_TRUE(event->Start());
    const auto start = Clock::now();
    event.reset();
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60));
    EXPECT_EQ(sink.Take().size(), 2u);
    client.reset(); // nothing left attached
}

TEST_F(TimedEvent, UnknownElectrodeStillDisables) {
    StimEnableEvent event(0, client.get(), kModule, kProp, false);
    event.AddClearElecList({5, 77});
    ASSERT_TRUE(event.Start());
    ASSERT_TRUE(Finishes(event));
    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].size(), 20u);
}

TEST(TimedEventWithoutClient, DoesNotStart) {
    StimEnableEvent event(0, nullptr, kModule, kProp, false);
    EXPECT_FALSE(event.Start());
    EXPECT_FALSE(event.IsRunning());
}

} // namespace
