// The handshake's progress counts: modules held, modules still missing properties,
// properties held, and completeness, as the description arrives.
#include "cache/KestCache.h"
#include "tests/cache/TestModel.h"

#include <gtest/gtest.h>

#include <vector>

TEST(CacheProgressTest, CountsFollowTheDescriptionAsItArrives) {
    KestCache cache;
    KestCacheProgress none = cache.GetProgress();
    EXPECT_FALSE(none.complete);
    EXPECT_EQ(none.modules, 0u);
    EXPECT_EQ(none.incomplete, 0u);
    EXPECT_EQ(none.properties, 0u);

    testmodel::Processor processor(1);
    std::vector<testmodel::Bytes> packets = processor.DescribePackets();
    // Hold back the last property of module 1.
    testmodel::Bytes held;
    for (auto it = packets.rbegin(); it != packets.rend(); ++it) {
        if ((*it)[2] == 1) {
            held = *it;
            packets.erase(std::next(it).base());
            break;
        }
    }
    ASSERT_FALSE(held.empty());
    for (const testmodel::Bytes& packet : packets) {
        cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
    }
    const KestCacheProgress partial = cache.GetProgress();
    EXPECT_FALSE(partial.complete);
    EXPECT_EQ(partial.modules, cache.GetModuleList().size());
    EXPECT_GT(partial.modules, 1u);
    EXPECT_EQ(partial.incomplete, 1u);
    EXPECT_EQ(cache.GetBadModules(), std::vector<unsigned>{1u});

    cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(held.data()));
    const KestCacheProgress full = cache.GetProgress();
    EXPECT_TRUE(full.complete);
    EXPECT_EQ(full.modules, partial.modules);
    EXPECT_EQ(full.incomplete, 0u);
    EXPECT_EQ(full.properties, partial.properties + 1);
    EXPECT_EQ(full.complete, cache.HaveProperties());
}
