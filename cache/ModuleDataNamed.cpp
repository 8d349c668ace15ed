// ModuleData's getters of the properties it knows by name, of channel records and of the
// front panel.
#include "cache/ModuleData.h"
#include "cache/ModuleDataNames.h"

#include <string>

namespace {

using Prop = ModuleData::Prop;

} // namespace

// ---------------------------------------------------------------------------
// Named properties

KestProperty* ModuleData::GetNamedProperty(Prop prop, int* index) const {
    const int id = GetPropId(prop);
    if (id <= 0)
        return nullptr;
    if (index != nullptr)
        *index = id;
    return SlotAt(id);
}

KestBool* ModuleData::GetStimEnableBool(int* index) const {
    return As<KestBool>(GetNamedProperty(Prop::StimEnable, index));
}
KestBool* ModuleData::GetStimTriggerBool(int* index) const {
    return As<KestBool>(GetNamedProperty(Prop::StimTrigger, index));
}
KestFloat* ModuleData::GetStimScaleFloat(int* index) const {
    return As<KestFloat>(GetNamedProperty(Prop::StimScale, index));
}
KestComboBox* ModuleData::GetStimTriggerSourceComboBox(int* index) const {
    return As<KestComboBox>(GetNamedProperty(Prop::StimSource, index));
}
KestComboBox* ModuleData::GetStimTriggerTypeComboBox(int* index) const {
    return As<KestComboBox>(GetNamedProperty(Prop::StimType, index));
}
KestProperty* ModuleData::GetStimEventTriggerMap(int* index) const {
    return GetNamedProperty(Prop::StimEventTriggerMap, index);
}
KestComboBox* ModuleData::GetFastSettleStimComboBox(int* index) const {
    return As<KestComboBox>(GetNamedProperty(Prop::FastSettleStim, index));
}
KestComboBox* ModuleData::GetFastSettleSourceComboBox(int* index) const {
    return As<KestComboBox>(GetNamedProperty(Prop::FastSettleSource, index));
}
KestFloat* ModuleData::GetFastSettleStimDurFloat(int* index) const {
    return As<KestFloat>(GetNamedProperty(Prop::FastSettleStimDuration, index));
}
KestFloat* ModuleData::GetFastSettleDurFloat(int* index) const {
    return As<KestFloat>(GetNamedProperty(Prop::FastSettleDuration, index));
}
KestBool* ModuleData::GetDigitalBitChangeBool(int* index) const {
    return As<KestBool>(GetNamedProperty(Prop::CaptureAnyParallelBitChange, index));
}
KestComboBox* ModuleData::GetADC2PhysComboBox(int* index) const {
    return As<KestComboBox>(GetNamedProperty(Prop::ADCToPhysicalUnitsSelector, index));
}
KestComboBox* ModuleData::GetHwLowCornerComboBox(int* index) const {
    auto* combo = As<KestComboBox>(GetNamedProperty(Prop::HardwareHighPassCorner, index));
    if (combo != nullptr && (combo->head.flags & kKestStreamUnavailableFlags) != 0)
        return nullptr;
    return combo;
}
KestComboBox* ModuleData::GetStimResComboBox(int* index) const {
    return As<KestComboBox>(GetNamedProperty(Prop::StimResolution, index));
}
KestComboBox* ModuleData::GetExhaustComboBox(int* index) const {
    return As<KestComboBox>(GetNamedProperty(Prop::StimExhaustingResistor, index));
}
KestAudioTone* ModuleData::GetAudioTone(int* index) const {
    return As<KestAudioTone>(GetNamedProperty(Prop::AudioTone, index));
}
KestInteger* ModuleData::GetStimLatency(int* index) const {
    return As<KestInteger>(GetNamedProperty(Prop::StimLatency, index));
}
KestInteger* ModuleData::GetInternalBatteryPct(int* index) const {
    return As<KestInteger>(GetNamedProperty(Prop::InternalBattery, index));
}
KestInteger* ModuleData::GetExternalBatteryPct(int* index) const {
    return As<KestInteger>(GetNamedProperty(Prop::ExternalBattery, index));
}
KestBool* ModuleData::GetExternalBatteryDetected(int* index) const {
    return As<KestBool>(GetNamedProperty(Prop::ExternalBatteryDetected, index));
}
KestProperty* ModuleData::GetWallSensor(int* index) const {
    return GetNamedProperty(Prop::WallSensor, index);
}
KestProperty* ModuleData::GetVddSensor(int* index) const {
    return GetNamedProperty(Prop::VddSensor, index);
}

KestProperty* ModuleData::GetStimCalibTable(int* valueIndex, int* count) const {
    const int own = GetPropId(Prop::StimCalibration);
    if (own <= 0)
        return nullptr;
    const auto* desc = As<KestPropertyDesc>(TypedSlot(own, kKestPropertyDescType));
    if (desc == nullptr)
        return nullptr;
    if (valueIndex != nullptr)
        *valueIndex = desc->valueIndex;
    if (count != nullptr)
        *count = desc->valueCount;
    return SlotAt(desc->valueIndex);
}

KestBool* ModuleData::GetSignalEnableProp(unsigned stream, int* index) const {
    const KestOutputStreamDesc* desc = GetOutputStreamDesc(stream);
    if (desc == nullptr)
        return nullptr;
    const auto* first = As<KestStreamChannelRecord>(SlotAt(desc->firstChannelRecord));
    if (first == nullptr || first->enableIndex == 0) // index 0 is the module descriptor
        return nullptr;
    if (index != nullptr)
        *index = first->enableIndex;
    return As<KestBool>(SlotAt(first->enableIndex));
}

KestPhysicalChannelDesc* ModuleData::GetPhysChanDesc(unsigned stream, unsigned channel) const {
    const KestOutputStreamDesc* desc = GetOutputStreamDesc(stream);
    if (desc == nullptr || channel >= desc->channelCount)
        return nullptr;
    const auto* record =
        As<KestStreamChannelRecord>(SlotAt(long(desc->firstChannelRecord) + channel));
    if (record == nullptr || record->physChannelIndex == 0)
        return nullptr;
    return As<KestPhysicalChannelDesc>(SlotAt(record->physChannelIndex));
}

KestProperty* ModuleData::GetSpikeThreshValues(int channel, int* index) const {
    const KestBlockDesc* block = GetSpikeThreshValuesBlockDesc();
    if (block == nullptr || channel < 0 || channel >= int(block->count))
        return nullptr;
    const int id = block->first + channel;
    if (index != nullptr)
        *index = id;
    return SlotAt(id);
}

KestBool* ModuleData::ChannelBool(const char* blockName, int channel, int* index) const {
    const KestBlockDesc* block = GetPropertyBlockDesc(blockName);
    if (block == nullptr || channel < 0 || channel >= int(block->count))
        return nullptr;
    const int id = block->first + channel;
    if (index != nullptr)
        *index = id;
    return As<KestBool>(SlotAt(id));
}

KestBool* ModuleData::GetHwGroundEnable(int channel, int* index) const {
    return ChannelBool(kGroundEnableBlockName, channel, index);
}

KestBool* ModuleData::GetHwReferenceEnable(int channel, int* index) const {
    return ChannelBool(kReferenceEnableBlockName, channel, index);
}

KestProperty* ModuleData::GetInputConnection(int i) const {
    if (inputFirst_ <= 0 || i < 0 || inputFirst_ + i >= inputEnd_)
        return nullptr;
    return SlotAt(inputFirst_ + i);
}

bool ModuleData::HaveImpedancePropertyIds() const {
    for (Prop prop : {Prop::ImpedanceCycle, Prop::ImpedanceFreqList, Prop::ImpedanceCurrentList,
                      Prop::ImpedanceControl, Prop::ImpedanceMeasurements}) {
        if (GetPropId(prop) < 0)
            return false;
    }
    return true;
}

namespace {

template <std::size_t N>
int PanelProp(const ModuleData& store, const Prop (&props)[N], int number) {
    if (number < 1 || std::size_t(number) > N || props[number - 1] == Prop::Count)
        return -1;
    const int id = store.GetPropId(props[number - 1]);
    return id > 0 ? id : -1;
}

} // namespace

int ModuleData::GetButtonPropId(int number) const {
    return PanelProp(*this, kButtonProps, number);
}
int ModuleData::GetButtonMonitorPropId(int number) const {
    return PanelProp(*this, kButtonMonitorProps, number);
}
int ModuleData::GetLedPropId(int number) const {
    return PanelProp(*this, kLedProps, number);
}
int ModuleData::GetLedMonitorPropId(int number) const {
    return PanelProp(*this, kLedMonitorProps, number);
}

// ---------------------------------------------------------------------------
// Buttons

std::uint32_t ModuleData::GetButtonCount(int button) const {
    return button >= kStopStimButton && button <= kF2Button ? buttons_[button - 1] : 0;
}

std::uint32_t ModuleData::TakeButtonCount(int button) {
    if (button < kStopStimButton || button > kF2Button)
        return 0;
    const std::uint32_t count = buttons_[button - 1];
    buttons_[button - 1] = 0;
    return count;
}
