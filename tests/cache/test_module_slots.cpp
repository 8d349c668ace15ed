#include "module_records.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ModuleSlots, DescriptorSizesTheStoreAndFillsSlotZero) {
    ModuleData store = MakeStore(10);
    EXPECT_EQ(store.GetNumProperties(), 10u);
    EXPECT_EQ(store.GetReceivedCount(), 1u);
    EXPECT_FALSE(store.HaveProperties());
    EXPECT_EQ(store.GetMissingPropIds(), (std::vector<unsigned>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    ASSERT_NE(store.GetModuleDesc(), nullptr);
    EXPECT_EQ(store.GetModuleDesc()->propertyCount, 10);
    EXPECT_EQ(store.GetModuleDesc()->head.type, kKestModuleDescType);
    EXPECT_EQ(store.GetPropertySize(0), kKestModuleDescSize);

    for (std::uint16_t index = 1; index < 10; ++index) {
        EXPECT_FALSE(store.HaveProperties()) << index;
        Send(store, index, BoolRecord(0));
    }
    EXPECT_TRUE(store.HaveProperties());
    EXPECT_TRUE(store.GetMissingPropIds().empty());
    EXPECT_EQ(store.GetReceivedCount(), 10u);
}

TEST(ModuleSlots, StoreWithoutDescriptorHasNoSlots) {
    ModuleData store;
    EXPECT_EQ(store.GetNumProperties(), 0u);
    EXPECT_FALSE(store.HaveProperties());
    EXPECT_EQ(store.GetModuleDesc(), nullptr);
    EXPECT_EQ(store.GetKestProperty(0), nullptr);
    EXPECT_EQ(store.GetBlockDesc(kKestOutputStreamBlock), nullptr);
    Send(store, 0, BoolRecord(1));
    EXPECT_EQ(store.GetReceivedCount(), 0u);

    ModuleData null_desc(nullptr);
    EXPECT_EQ(null_desc.GetNumProperties(), 0u);
}

// A descriptor announcing no properties used to give a store with no room for the
// descriptor itself, which was then written out of bounds.
TEST(ModuleSlots, DescriptorAnnouncingNoPropertiesStillHoldsItself) {
    ModuleData store = MakeStore(0);
    EXPECT_EQ(store.GetNumProperties(), 1u);
    EXPECT_TRUE(store.HaveProperties());
    EXPECT_NE(store.GetModuleDesc(), nullptr);
}

TEST(ModuleSlots, SecondCopyReplacesTheFirstInPlace) {
    ModuleData store = MakeStore(4);
    Send(store, 2, BoolRecord(0));
    KestProperty* first = store.GetKestProperty(2);
    ASSERT_NE(first, nullptr);
    Send(store, 2, BoolRecord(1));
    EXPECT_EQ(store.GetReceivedCount(), 2u);
    EXPECT_EQ(store.GetKestProperty(2), first);
    EXPECT_EQ(reinterpret_cast<KestBool*>(first)->value, 1);
    EXPECT_EQ(store.GetPropertySize(2), sizeof(KestBool));
}

// The first copy of a growing list (such as a measurement list that starts empty) used
// to fix the slot's length, so later, longer copies lost everything past it.
TEST(ModuleSlots, LaterCopyMayBeLongerOrShorter) {
    ModuleData store = MakeStore(4);
    Bytes empty_list(kKestWordArrayHeadSize, 0);
    empty_list[1] = 50;
    Send(store, 3, empty_list);
    EXPECT_EQ(store.GetPropertySize(3), kKestWordArrayHeadSize);

    Bytes full_list = empty_list;
    full_list[6] = 4; // count
    for (std::uint8_t word = 0; word < 4; ++word) {
        full_list.push_back(std::uint8_t(0x10 + word));
        full_list.push_back(0);
    }
    Send(store, 3, full_list);
    auto* words = reinterpret_cast<KestWordArray*>(store.GetKestProperty(3));
    EXPECT_EQ(store.GetPropertySize(3), kKestWordArrayHeadSize + 8);
    EXPECT_EQ(words->count, 4);
    EXPECT_EQ(words->words[3], 0x13);

    // A shorter copy leaves nothing of the longer one behind it.
    Send(store, 3, empty_list);
    EXPECT_EQ(store.GetPropertySize(3), kKestWordArrayHeadSize);
    EXPECT_EQ(words->count, 0);
    EXPECT_EQ(words->words[0], 0);
    EXPECT_EQ(words->words[3], 0);
}

TEST(ModuleSlots, ShortRecordReadsAsZeroPastWhatArrived) {
    ModuleData store = MakeStore(4);
    Bytes combo = ComboRecord(3, 2, 9);
    combo.resize(8); // selection arrives, the item fields do not
    Send(store, 1, combo);
    EXPECT_EQ(store.GetPropertySize(1), 8u);
    auto* box = reinterpret_cast<KestComboBox*>(store.GetKestProperty(1));
    EXPECT_EQ(box->selection, 3);
    EXPECT_EQ(box->firstItem, 0);
    EXPECT_EQ(box->itemCount, 0);
}

// A packet whose size byte announces more than was received used to be copied for the
// announced length, reading past the packet.
TEST(ModuleSlots, PacketShorterThanItsSizeByteIsCopiedOnlyAsFarAsItGoes) {
    ModuleData store = MakeStore(4);
    Bytes record = BoolRecord(1);
    SendRaw(store, 1, record, 1, 255, kKestConfigHeaderSize + 6); // 6 of 8 record bytes
    ASSERT_NE(store.GetKestProperty(1), nullptr);
    EXPECT_EQ(store.GetPropertySize(1), 6u);
    EXPECT_EQ(reinterpret_cast<KestBool*>(store.GetKestProperty(1))->value, 1);

    // A record longer than a packet can carry is cut to the slot.
    Bytes huge(kKestMaxRecordSize + 40, 0xAB);
    SendRaw(store, 2, huge, 1, 255, huge.size() + kKestConfigHeaderSize);
    EXPECT_EQ(store.GetPropertySize(2), kKestMaxRecordSize);

    // A size byte too small for the address, or fewer bytes than a header: nothing stored.
    SendRaw(store, 3, record, 1, 2, 8);
    SendRaw(store, 3, record, 1, 2, 1020);
    SendRaw(store, 3, record, 1, 5, 11);
    EXPECT_EQ(store.GetKestProperty(3), nullptr);
    store.AddKestProperty(nullptr, 100);
}

TEST(ModuleSlots, SizeByteCoveringNoRecordStoresAnEmptySlot) {
    ModuleData store = MakeStore(3);
    SendRaw(store, 1, {}, 1, 3, kKestConfigHeaderSize);
    ASSERT_NE(store.GetKestProperty(1), nullptr);
    EXPECT_EQ(store.GetPropertySize(1), 0u);
    EXPECT_EQ(store.GetKestProperty(1)->type, kKestRecordCleared);
}

TEST(ModuleSlots, IndicesOutsideTheSlotsAreIgnored) {
    ModuleData store = MakeStore(3);
    Send(store, 3, BoolRecord(1));
    Send(store, 0xFFFF, BoolRecord(1));
    EXPECT_EQ(store.GetReceivedCount(), 1u);
    EXPECT_EQ(store.GetKestProperty(3), nullptr);
    EXPECT_EQ(store.GetKestProperty(-1), nullptr);
    EXPECT_EQ(store.GetPropertySize(-1), 0u);
    EXPECT_EQ(store.GetPropertySize(3), 0u);
    store.ClearProperty(-1);
    store.ClearProperty(3);
}

TEST(ModuleSlots, ClearZeroesTheRecordAndKeepsItsLength) {
    ModuleData store = MakeStore(3);
    Send(store, 1, BoolRecord(1));
    store.ClearProperty(1);
    KestProperty* record = store.GetKestProperty(1);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->type, kKestRecordCleared);
    EXPECT_EQ(reinterpret_cast<KestBool*>(record)->value, 0);
    EXPECT_EQ(store.GetPropertySize(1), sizeof(KestBool));
    EXPECT_EQ(store.GetReceivedCount(), 2u);
    store.ClearProperty(2); // not arrived: nothing to clear
    EXPECT_EQ(store.GetKestProperty(2), nullptr);
}

TEST(ModuleBlocks, FoundByKindAndByNameAmongTheAnnouncedBlocks) {
    ModuleData store = MakeStore(40, 3);
    Send(store, 1, BlockRecord(kKestPhysicalChannelBlock, 10, 4, "Channels"));
    Send(store, 2, BlockRecord(kKestModuleScopeBlock, 20, 2, "Stim Control Descriptor Block"));
    Send(store, 3, BlockRecord(kKestOutputStreamBlock, 30, 3, "Threshold Values Descriptor Block"));
    // Beyond the three blocks the module descriptor announces: never found.
    Send(store, 4,
         BlockRecord(kKestProcessorBlock, 35, 1, "Channel Ground Enable Descriptor Block"));

    ASSERT_NE(store.GetPhysicalChannelBlockDesc(), nullptr);
    EXPECT_EQ(store.GetPhysicalChannelBlockDesc()->first, 10);
    EXPECT_EQ(store.GetModuleScopePropertyBlockDesc(), Slot(store, 2));
    EXPECT_EQ(store.GetOutputStreamBlockDesc(), Slot(store, 3));
    EXPECT_EQ(store.GetProcessorPropertyBlockDesc(), nullptr);
    EXPECT_EQ(store.GetStimControlBlockDesc(), Slot(store, 2));
    EXPECT_EQ(store.GetSpikeThreshValuesBlockDesc(), Slot(store, 3));
    EXPECT_EQ(store.GetPropertyBlockDesc("Channel Ground Enable Descriptor Block"), nullptr);
    EXPECT_EQ(store.GetPropertyBlockDesc("Stim Control"), nullptr);

    // A cleared block no longer counts, which lets the next one in.
    store.ClearProperty(1);
    EXPECT_EQ(store.GetPhysicalChannelBlockDesc(), nullptr);
    EXPECT_NE(store.GetProcessorPropertyBlockDesc(), nullptr);
}

TEST(ModuleBlocks, BlockNameWithoutTerminatorIsReadWithinItsField) {
    ModuleData store = MakeStore(5, 2);
    Bytes block = BlockRecord(kKestModuleScopeBlock, 3, 1);
    std::memset(block.data() + offsetof(KestBlockDesc, name), 'x', 128);
    block.resize(offsetof(KestBlockDesc, name) + 128);
    Send(store, 1, block);
    EXPECT_EQ(store.GetPropertyBlockDesc(std::string(128, 'x')), Slot(store, 1));
}

TEST(ModuleBlocks, SignalSelectionAndInputConnectionRanges) {
    ModuleData store = MakeStore(60, 4);
    EXPECT_EQ(store.GetSignalSelectionRange(), std::make_pair(-1, -1));
    EXPECT_EQ(store.GetInputConnectionRange(), std::make_pair(-1, -1));
    EXPECT_EQ(store.GetInputConnection(0), nullptr);

    Send(store, 1, BlockRecord(kKestSignalSelectionBlock, 40, 4));
    Send(store, 2, BlockRecord(kKestInputConnectionBlock, 50, 3));
    EXPECT_EQ(store.GetSignalSelectionRange(), std::make_pair(40, 44));
    EXPECT_EQ(store.GetInputConnectionRange(), std::make_pair(50, 53));

    EXPECT_EQ(store.GetInputConnection(1), nullptr); // not arrived yet
    Send(store, 51, BoolRecord(1));
    Send(store, 53, BoolRecord(1)); // first index past the block
    EXPECT_EQ(store.GetInputConnection(1), Slot(store, 51));
    EXPECT_EQ(store.GetInputConnection(3), nullptr);
    EXPECT_EQ(store.GetInputConnection(-1), nullptr);
}

} // namespace
