#include "cache/FilterKey.h"
#include "module_records.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Prop = ModuleData::Prop;

TEST(FilterKey, LowerCaseCutAtFilter) {
    EXPECT_EQ(FilterKeyPrep("Hi-Res Filter"), "hi-res");
    EXPECT_EQ(FilterKeyPrep("hi-res filter"), "hi-res");
    EXPECT_EQ(FilterKeyPrep("LFP Filter Selection"), "lfp");
    EXPECT_EQ(FilterKeyPrep("Raw Filter Filter"), "raw");
    EXPECT_EQ(FilterKeyPrep("Notch"), "notch");
    EXPECT_EQ(FilterKeyPrep("Filter"), "filter"); // no space before it: nothing cut
    EXPECT_EQ(FilterKeyPrep(" filter"), "");
}

TEST(ModuleNames, EntriesStartAtZeroOrMinusOne) {
    ModuleData store = MakeStore(4);
    EXPECT_EQ(store.GetPropId(Prop::StimEnable), 0);
    EXPECT_EQ(store.GetPropId(Prop::StimCalibration), 0);
    EXPECT_EQ(store.GetPropId(Prop::StimExhaustingResistor), 0);
    EXPECT_EQ(store.GetPropId(Prop::ImpedanceCycle), -1);
    EXPECT_EQ(store.GetPropId(Prop::StimLatency), -1);
    EXPECT_EQ(store.GetPropId(Prop::RestartPaxexecTrigger), -1);
    EXPECT_EQ(store.GetStimEnableBool(), nullptr);
    EXPECT_EQ(store.GetAudioTone(), nullptr);
}

TEST(ModuleNames, DescriptorNameSetsItsEntryToTheValueIndex) {
    ModuleData store = MakeStore(30);
    int index = -7;
    Send(store, 1, PropDescRecord("Stim Enable", kKestBoolType, 2));
    EXPECT_EQ(store.GetPropId(Prop::StimEnable), 2);
    EXPECT_EQ(store.GetStimEnableBool(&index), nullptr); // value not arrived yet
    EXPECT_EQ(index, 2);

    Send(store, 2, BoolRecord(1));
    EXPECT_EQ(store.GetStimEnableBool(), Slot(store, 2));

    const std::pair<const char*, Prop> names[] = {
        {"Stim Trigger", Prop::StimTrigger},
        {"Fast Settle Stim Duration", Prop::FastSettleStimDuration},
        {"Capture Any Parallel Bit Change", Prop::CaptureAnyParallelBitChange},
        {"Impedance Current List", Prop::ImpedanceCurrentList},
        {"VDD Sensor", Prop::VddSensor},
        {"Port C LED Monitor", Prop::PortCLedMonitor},
        {"Recording Trial Descriptor", Prop::RecordingTrialDescriptor},
        {"Restart Paxexec Trigger", Prop::RestartPaxexecTrigger},
    };
    std::uint16_t value = 10;
    for (const auto& [name, prop] : names) {
        Send(store, 3, PropDescRecord(name, 3, value));
        EXPECT_EQ(store.GetPropId(prop), value) << name;
        ++value;
    }
    // Names must match exactly.
    Send(store, 3, PropDescRecord("stim scale", kKestFloatType, 20));
    Send(store, 3, PropDescRecord("Stim Scale ", kKestFloatType, 20));
    EXPECT_EQ(store.GetPropId(Prop::StimScale), 0);
}

TEST(ModuleNames, NamedGettersReturnTheirSlotsWhenTheIndexIsAboveZero) {
    ModuleData store = MakeStore(40);
    struct Case {
        const char* name;
        std::uint8_t type;
        std::function<KestProperty*(int*)> get;
    };
    const Case cases[] = {
        {"Stim Trigger", 3, [&](int* i) { return &store.GetStimTriggerBool(i)->head; }},
        {"Stim Scale", 5, [&](int* i) { return &store.GetStimScaleFloat(i)->head; }},
        {"Stim Source", 7, [&](int* i) { return &store.GetStimTriggerSourceComboBox(i)->head; }},
        {"Stim Type", 7, [&](int* i) { return &store.GetStimTriggerTypeComboBox(i)->head; }},
        {"Stim Event Trigger Map", 30, [&](int* i) { return store.GetStimEventTriggerMap(i); }},
        {"Fast Settle Stim", 7, [&](int* i) { return &store.GetFastSettleStimComboBox(i)->head; }},
        {"Fast Settle Source", 7,
         [&](int* i) { return &store.GetFastSettleSourceComboBox(i)->head; }},
        {"Fast Settle Stim Duration", 5,
         [&](int* i) { return &store.GetFastSettleStimDurFloat(i)->head; }},
        {"Fast Settle Duration", 5, [&](int* i) { return &store.GetFastSettleDurFloat(i)->head; }},
        {"Capture Any Parallel Bit Change", 3,
         [&](int* i) { return &store.GetDigitalBitChangeBool(i)->head; }},
        {"ADC to Physical Units Selector", 7,
         [&](int* i) { return &store.GetADC2PhysComboBox(i)->head; }},
        {"Stim Resolution", 7, [&](int* i) { return &store.GetStimResComboBox(i)->head; }},
        {"Stim Exhausting Resistor", 7, [&](int* i) { return &store.GetExhaustComboBox(i)->head; }},
        {"Audio Tone", 35, [&](int* i) { return &store.GetAudioTone(i)->head; }},
        {"Stim Latency", 4, [&](int* i) { return &store.GetStimLatency(i)->head; }},
        {"Internal Battery", 4, [&](int* i) { return &store.GetInternalBatteryPct(i)->head; }},
        {"External Battery", 4, [&](int* i) { return &store.GetExternalBatteryPct(i)->head; }},
        {"External Battery Detected", 3,
         [&](int* i) { return &store.GetExternalBatteryDetected(i)->head; }},
        {"Wall Sensor", 29, [&](int* i) { return store.GetWallSensor(i); }},
        {"VDD Sensor", 29, [&](int* i) { return store.GetVddSensor(i); }},
    };
    std::uint16_t descriptor = 1;
    for (const Case& c : cases) {
        const std::uint16_t value = std::uint16_t(descriptor + 20);
        Send(store, descriptor, PropDescRecord(c.name, c.type, value));
        Send(store, value, BoolRecord(1));
        int index = -1;
        EXPECT_EQ(c.get(&index), Slot(store, value)) << c.name;
        EXPECT_EQ(index, value) << c.name;
        EXPECT_EQ(c.get(nullptr), Slot(store, value)) << c.name;
        ++descriptor;
    }
}

TEST(ModuleNames, CornerComboBoxIsNotAFilterAndHidesWhenUnavailable) {
    ModuleData store = MakeStore(20);
    Send(store, 1, PropDescRecord("Hardware Filter High-Pass Corner", kKestComboBoxType, 5));
    EXPECT_TRUE(store.GetFilterStrings().empty());
    EXPECT_EQ(store.GetPropId(Prop::HardwareHighPassCorner), 5);

    Send(store, 5, ComboRecord(0, 6, 2));
    int index = 0;
    EXPECT_EQ(store.GetHwLowCornerComboBox(&index), Slot(store, 5));
    EXPECT_EQ(index, 5);
    Send(store, 5, ComboRecord(0, 6, 2, 0x04));
    EXPECT_EQ(store.GetHwLowCornerComboBox(), nullptr);
    Send(store, 5, ComboRecord(0, 6, 2, 0x08));
    EXPECT_EQ(store.GetHwLowCornerComboBox(), nullptr);
}

TEST(ModuleNames, StimCalibrationKeepsItsOwnIndex) {
    ModuleData store = MakeStore(20);
    int value_index = -1, count = -1;
    EXPECT_EQ(store.GetStimCalibTable(&value_index, &count), nullptr);

    Send(store, 3, PropDescRecord("Stim Calibration", 40, 10, 4));
    EXPECT_EQ(store.GetPropId(Prop::StimCalibration), 3);
    Send(store, 10, BoolRecord(0));
    EXPECT_EQ(store.GetStimCalibTable(&value_index, &count), Slot(store, 10));
    EXPECT_EQ(value_index, 10);
    EXPECT_EQ(count, 4);
}

TEST(ModuleNames, DescriptorNameWithoutTerminatorIsReadWithinItsField) {
    ModuleData store = MakeStore(5);
    Bytes desc = PropDescRecord("", kKestBoolType, 2);
    std::memset(desc.data() + offsetof(KestPropertyDesc, name), 'S', 128);
    desc.resize(offsetof(KestPropertyDesc, name) + 128);
    Send(store, 1, desc);
    EXPECT_EQ(store.GetPropId(Prop::StimEnable), 0);
}

TEST(ModuleFilters, ComboBoxFilterNamesGiveKeys) {
    ModuleData store = MakeStore(40);
    Send(store, 1, PropDescRecord("Hi-Res Filter", kKestComboBoxType, 10));
    Send(store, 2, PropDescRecord("LFP Filter", kKestComboBoxType, 11));
    Send(store, 3, PropDescRecord("Notch Filter", kKestBoolType, 12)); // not a combo box
    EXPECT_EQ(store.GetFilterStrings(), (std::vector<std::string>{"hi-res", "lfp"}));

    Send(store, 10, ComboRecord(1, 20, 3));
    int index = -1;
    EXPECT_EQ(store.GetFilterComboBox("hi-res filter", &index), Slot(store, 10));
    EXPECT_EQ(index, 10);
    EXPECT_EQ(store.GetFilterComboBox("HI-RES", nullptr), Slot(store, 10));
    EXPECT_EQ(store.GetFilterComboBox("notch", &index), nullptr);

    // "Filter" is looked for as written; a second descriptor of the same key replaces the
    // index.
    Send(store, 4, PropDescRecord("lfp filter", kKestComboBoxType, 14));
    EXPECT_EQ(store.GetFilterStrings(), (std::vector<std::string>{"hi-res", "lfp"}));
    Send(store, 4, PropDescRecord("HI-RES Filter", kKestComboBoxType, 13));
    EXPECT_EQ(store.GetFilterComboBox("Hi-Res", &index), nullptr); // 13 not arrived
    EXPECT_EQ(index, 13);
}

TEST(ModuleFilters, ItemsLeadToTheirSosDescriptors) {
    ModuleData store = MakeStore(40);
    Send(store, 1, PropDescRecord("Hi-Res Filter", kKestComboBoxType, 10));
    Send(store, 10, ComboRecord(0, 20, 2));
    Send(store, 20, ComboItemRecord(30, "None"));
    Send(store, 21, ComboItemRecord(31, "250 Hz high pass"));
    Send(store, 30, SosRecord("None", 0));
    Send(store, 31, SosRecord("250 Hz high pass", 2));

    int index = -1;
    KestSosFilterDesc* sos = store.GetSosFilterDesc("Hi-Res Filter", 1, &index);
    ASSERT_NE(sos, nullptr);
    EXPECT_EQ(index, 31);
    EXPECT_EQ(sos->stageCount, 2);
    EXPECT_EQ(store.GetPropertySize(31), kKestSosFilterHeadSize + 32);
    EXPECT_EQ(store.GetSosFilterDesc("hi-res", 0, nullptr), Slot(store, 30));
    EXPECT_EQ(store.GetSosFilterDesc("hi-res", 2, &index), nullptr);
    EXPECT_EQ(store.GetSosFilterDesc("hi-res", -1, &index), nullptr);
    EXPECT_EQ(store.GetSosFilterDesc("lfp", 0, &index), nullptr);
}

TEST(ModuleChannels, ThresholdGroundAndReferenceByChannel) {
    ModuleData store = MakeStore(200, 3);
    Send(store, 1,
         BlockRecord(kKestModuleScopeBlock, 100, 32, "Threshold Values Descriptor Block"));
    Send(store, 2,
         BlockRecord(kKestModuleScopeBlock, 140, 32, "Channel Ground Enable Descriptor Block"));
    Send(store, 3,
         BlockRecord(kKestModuleScopeBlock, 180, 16, "Channel Reference Enable Descriptor Block"));
    Send(store, 105, BoolRecord(0));
    Send(store, 171, BoolRecord(1));
    Send(store, 195, BoolRecord(1));

    int index = -1;
    EXPECT_EQ(store.GetSpikeThreshValues(5, &index), Slot(store, 105));
    EXPECT_EQ(index, 105);
    EXPECT_EQ(store.GetSpikeThreshValues(32, &index), nullptr);
    EXPECT_EQ(store.GetSpikeThreshValues(-1, &index), nullptr);
    EXPECT_EQ(store.GetHwGroundEnable(31, &index), Slot(store, 171));
    EXPECT_EQ(index, 171);
    EXPECT_EQ(store.GetHwReferenceEnable(15, &index), Slot(store, 195));
    EXPECT_EQ(store.GetHwReferenceEnable(16, &index), nullptr);
}

// Button presses are counted from the processor's own module only, per button.
TEST(ModuleButtons, PressesFromModuleZeroAreCounted) {
    ModuleData store = MakeStore(20);
    Send(store, 1, PropDescRecord("Stop Stim Button", kKestBoolType, 10), 0);
    Send(store, 2, PropDescRecord("F2 Button", kKestBoolType, 11), 0);
    for (int press = 0; press < 3; ++press)
        Send(store, 10, BoolRecord(1), 0);
    Send(store, 10, BoolRecord(0), 0); // release
    Send(store, 11, BoolRecord(1), 0);
    Send(store, 11, BoolRecord(1), 5); // another module's copy
    EXPECT_EQ(store.GetButtonCount(ModuleData::kStopStimButton), 3u);
    EXPECT_EQ(store.GetButtonCount(ModuleData::kF2Button), 1u);
    EXPECT_EQ(store.GetButtonCount(ModuleData::kEventButton), 0u);

    EXPECT_EQ(store.TakeButtonCount(ModuleData::kStopStimButton), 3u);
    EXPECT_EQ(store.TakeButtonCount(ModuleData::kStopStimButton), 0u);
    EXPECT_EQ(store.TakeButtonCount(0), 0u);
    EXPECT_EQ(store.TakeButtonCount(5), 0u);
}

TEST(ModuleButtons, PanelPropertiesByNumber) {
    ModuleData store = MakeStore(30);
    Send(store, 1, PropDescRecord("Event Button", kKestBoolType, 10), 0);
    Send(store, 2, PropDescRecord("Event Button Monitor", kKestBoolType, 11), 0);
    Send(store, 3, PropDescRecord("Event LED", kKestBoolType, 12), 0);
    Send(store, 4, PropDescRecord("Port D LED Monitor", kKestIntegerType, 13), 0);
    EXPECT_EQ(store.GetButtonPropId(2), 10);
    EXPECT_EQ(store.GetButtonMonitorPropId(2), 11);
    EXPECT_EQ(store.GetLedPropId(2), 12);
    EXPECT_EQ(store.GetLedMonitorPropId(8), 13);
    EXPECT_EQ(store.GetButtonPropId(1), -1); // not described
    EXPECT_EQ(store.GetButtonPropId(5), -1); // ports have no buttons
    EXPECT_EQ(store.GetLedPropId(1), -1);    // stop-stim has no LED
    EXPECT_EQ(store.GetLedMonitorPropId(9), -1);
    EXPECT_EQ(store.GetLedMonitorPropId(0), -1);
}

TEST(ModuleImpedance, AllFiveIndicesAreNeeded) {
    ModuleData store = MakeStore(30);
    const char* names[] = {"Impedance Cycle", "Impedance Freq List", "Impedance Current List",
                           "Impedance Control", "Impedance Measurements"};
    std::uint16_t index = 1;
    for (const char* name : names) {
        EXPECT_FALSE(store.HaveImpedancePropertyIds()) << name;
        Send(store, index, PropDescRecord(name, kKestIntegerType, std::uint16_t(index + 10)));
        ++index;
    }
    EXPECT_TRUE(store.HaveImpedancePropertyIds());
}

// The cache reaches these through the store's virtual slots; a store that overrides them
// must be the one asked.
class RenamingStore : public ModuleData {
  public:
    int GetStreamId(const std::string& name) const override { return name == "spk" ? 42 : -1; }
    SpikeDataBuffer<KestSegmentDataPacketFixed>* GetSpikeDataBuffer(unsigned) override {
        return &ring;
    }
    KestProperty* GetSpikeThreshValues(int, int* index) const override {
        *index = 99;
        return nullptr;
    }
    SpikeDataBuffer<KestSegmentDataPacketFixed> ring{4};
};

TEST(ModuleSlotsVirtual, OverridesAreReachedThroughTheBase) {
    std::unique_ptr<ModuleData> store = std::make_unique<RenamingStore>();
    EXPECT_EQ(store->GetStreamId("spk"), 42);
    EXPECT_NE(store->GetSpikeDataBuffer(1), nullptr);
    int index = 0;
    store->GetSpikeThreshValues(0, &index);
    EXPECT_EQ(index, 99);
}

} // namespace
