// A ring whose publishes wake a sleeping reader through an eventfd, and stop doing so once
// the signal is cleared.
#include "transport/CircularKestBuffer.h"

#include <gtest/gtest.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

TEST(PublishSignal, EveryPublishCountsUntilTheSignalIsCleared) {
    Network::CircularKestBuffer ring(4096, "configBuffer");
    const int signal = eventfd(0, EFD_NONBLOCK);
    ASSERT_GE(signal, 0);
    ring.Reserve(16);
    ring.Publish();
    std::uint64_t count = 0;
    EXPECT_LT(read(signal, &count, sizeof count), 0) << "no signal set yet";

    ring.SetPublishSignal(signal);
    ring.Reserve(16);
    ring.Publish();
    ring.Reserve(16);
    ring.Publish();
    ASSERT_EQ(read(signal, &count, sizeof count), long(sizeof count));
    EXPECT_EQ(count, 2u);

    ring.SetPublishSignal(-1);
    ring.Reserve(16);
    ring.Publish();
    EXPECT_LT(read(signal, &count, sizeof count), 0) << "cleared";
    EXPECT_EQ(ring.PublishedHead(), 64u);
    close(signal);
}
