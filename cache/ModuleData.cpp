#include "cache/ModuleData.h"

#include "cache/FilterKey.h"

#include <algorithm>
#include <cstring>

namespace {

using Prop = ModuleData::Prop;

// The properties the library works with, by the exact name of their property descriptor,
// and the index each starts with before its descriptor arrives. An index of 0 or below
// means the module does not offer the property.
struct NamedProp {
    Prop prop;
    const char* name;
    int initial;
};

constexpr NamedProp kNameTable[] = {
    // Stimulation.
    {Prop::StimEnable, "Stim Enable", 0},
    {Prop::StimTrigger, "Stim Trigger", 0},
    {Prop::StimScale, "Stim Scale", 0},
    {Prop::StimSource, "Stim Source", 0},
    {Prop::StimType, "Stim Type", 0},
    {Prop::StimEventTriggerMap, "Stim Event Trigger Map", 0},
    // Fast settle.
    {Prop::FastSettleStim, "Fast Settle Stim", 0},
    {Prop::FastSettleSource, "Fast Settle Source", 0},
    {Prop::FastSettleStimDuration, "Fast Settle Stim Duration", 0},
    {Prop::FastSettleDuration, "Fast Settle Duration", 0},
    // Digital capture, conversion, hardware filter and stimulation hardware.
    {Prop::CaptureAnyParallelBitChange, "Capture Any Parallel Bit Change", 0},
    {Prop::ADCToPhysicalUnitsSelector, "ADC to Physical Units Selector", 0},
    {Prop::HardwareHighPassCorner, "Hardware Filter High-Pass Corner", 0},
    {Prop::StimResolution, "Stim Resolution", 0},
    {Prop::StimCalibration, "Stim Calibration", 0},
    {Prop::StimExhaustingResistor, "Stim Exhausting Resistor", 0},
    // Impedance measurement.
    {Prop::ImpedanceCycle, "Impedance Cycle", -1},
    {Prop::ImpedanceFreqList, "Impedance Freq List", -1},
    {Prop::ImpedanceCurrentList, "Impedance Current List", -1},
    {Prop::ImpedanceControl, "Impedance Control", -1},
    {Prop::ImpedanceMeasurements, "Impedance Measurements", -1},
    // Transceiver.
    {Prop::ImplantConnectionStatus, "Implant Connection Status", -1},
    {Prop::ImplantSearchTrigger, "Implant Search Trigger", -1},
    {Prop::ImplantStatus, "Implant Status", -1},
    {Prop::TransceiverCommand, "Transceiver Command", -1},
    {Prop::ImplantCommandResponse, "Implant Command Response", -1},
    // Power and sensors.
    {Prop::InternalBattery, "Internal Battery", -1},
    {Prop::ExternalBattery, "External Battery", -1},
    {Prop::ExternalBatteryDetected, "External Battery Detected", -1},
    {Prop::WallSensor, "Wall Sensor", -1},
    {Prop::VddSensor, "VDD Sensor", -1},
    // Front panel.
    {Prop::StopStimButtonMonitor, "Stop Stim Button Monitor", -1},
    {Prop::StopStimButton, "Stop Stim Button", -1},
    {Prop::EventButtonMonitor, "Event Button Monitor", -1},
    {Prop::EventButton, "Event Button", -1},
    {Prop::EventLedMonitor, "Event LED Monitor", -1},
    {Prop::EventLed, "Event LED", -1},
    {Prop::F1ButtonMonitor, "F1 Button Monitor", -1},
    {Prop::F1Button, "F1 Button", -1},
    {Prop::F1LedMonitor, "F1 LED Monitor", -1},
    {Prop::F1Led, "F1 LED", -1},
    {Prop::F2ButtonMonitor, "F2 Button Monitor", -1},
    {Prop::F2Button, "F2 Button", -1},
    {Prop::F2LedMonitor, "F2 LED Monitor", -1},
    {Prop::F2Led, "F2 LED", -1},
    {Prop::PortALedMonitor, "Port A LED Monitor", -1},
    {Prop::PortALed, "Port A LED", -1},
    {Prop::PortBLedMonitor, "Port B LED Monitor", -1},
    {Prop::PortBLed, "Port B LED", -1},
    {Prop::PortCLedMonitor, "Port C LED Monitor", -1},
    {Prop::PortCLed, "Port C LED", -1},
    {Prop::PortDLedMonitor, "Port D LED Monitor", -1},
    {Prop::PortDLed, "Port D LED", -1},
    // Processor.
    {Prop::RecordingTrialDescriptor, "Recording Trial Descriptor", -1},
    {Prop::RestartPaxexecTrigger, "Restart Paxexec Trigger", -1},
    {Prop::AudioTone, "Audio Tone", -1},
    {Prop::StimLatency, "Stim Latency", -1},
};

constexpr bool TableFollowsEnum() {
    int position = 0;
    for (const NamedProp& entry : kNameTable) {
        if (static_cast<int>(entry.prop) != position++)
            return false;
    }
    return position == ModuleData::kPropCount;
}
static_assert(TableFollowsEnum(), "one table entry per property, in enum order");

constexpr const char* kStimControlBlockName = "Stim Control Descriptor Block";
constexpr const char* kThresholdBlockName = "Threshold Values Descriptor Block";
constexpr const char* kGroundEnableBlockName = "Channel Ground Enable Descriptor Block";
constexpr const char* kReferenceEnableBlockName = "Channel Reference Enable Descriptor Block";

// Panel properties by panel number 1-8; Count marks a number without such a property.
constexpr Prop kButtonProps[] = {Prop::StopStimButton, Prop::EventButton, Prop::F1Button,
                                 Prop::F2Button};
constexpr Prop kButtonMonitorProps[] = {Prop::StopStimButtonMonitor, Prop::EventButtonMonitor,
                                        Prop::F1ButtonMonitor, Prop::F2ButtonMonitor};
constexpr Prop kLedProps[] = {Prop::Count,    Prop::EventLed, Prop::F1Led,    Prop::F2Led,
                              Prop::PortALed, Prop::PortBLed, Prop::PortCLed, Prop::PortDLed};
constexpr Prop kLedMonitorProps[] = {
    Prop::Count,           Prop::EventLedMonitor, Prop::F1LedMonitor,    Prop::F2LedMonitor,
    Prop::PortALedMonitor, Prop::PortBLedMonitor, Prop::PortCLedMonitor, Prop::PortDLedMonitor};

std::unique_ptr<std::uint8_t[]> NewSlot() {
    return std::make_unique<std::uint8_t[]>(kKestMaxRecordSize); // zero-filled
}

// A text field read no further than its end, terminated or not.
template <std::size_t N> std::string FieldText(const char (&field)[N]) {
    return std::string(field, KestTextLength(field, N));
}

template <typename Record> Record* As(KestProperty* record) {
    return reinterpret_cast<Record*>(record);
}

} // namespace

ModuleData::ModuleData() {
    for (const NamedProp& entry : kNameTable)
        propIds_[static_cast<int>(entry.prop)] = entry.initial;
}

ModuleData::ModuleData(const KestModuleDesc* desc, std::size_t length) : ModuleData() {
    if (desc == nullptr)
        return;
    auto slot = NewSlot();
    std::memcpy(slot.get(), desc, std::min(length, kKestModuleDescSize));
    // A descriptor announcing no properties still holds itself.
    const std::size_t count = std::max<std::size_t>(
        1, reinterpret_cast<const KestModuleDesc*>(slot.get())->propertyCount);
    records_.resize(count);
    lengths_.assign(count, 0);
    records_[0] = std::move(slot);
    lengths_[0] = kKestModuleDescSize;
    received_ = 1;
}

ModuleData::~ModuleData() = default;

// ---------------------------------------------------------------------------
// Intake

void ModuleData::AddKestProperty(const KestConfigPacket* packet, std::size_t available) {
    if (packet == nullptr || available < kKestHeaderSize)
        return;
    // Neither what arrived nor what the size byte covers is read past; a packet too short
    // for a property address carries no property.
    const std::size_t bytes = std::min(packet->header.ByteSize(), available);
    if (bytes < kKestConfigHeaderSize)
        return;
    const unsigned index = packet->propIndex;
    if (index >= records_.size())
        return;
    const std::size_t length = std::min(bytes - kKestConfigHeaderSize, kKestMaxRecordSize);

    std::unique_ptr<std::uint8_t[]>& slot = records_[index];
    if (!slot) {
        slot = NewSlot();
        ++received_;
    } else if (length < lengths_[index]) {
        // Nothing of an older, longer copy survives beyond the new one.
        std::memset(slot.get() + length, 0, lengths_[index] - length);
    }
    std::memcpy(slot.get(), packet->Record(), length);
    lengths_[index] = length;

    const auto* record = reinterpret_cast<const KestProperty*>(slot.get());
    if (packet->moduleId == 0 && reinterpret_cast<const KestBool*>(record)->value != 0)
        CountButtonPress(index);

    switch (record->type) {
    case kKestOutputStreamDescType:
        OnStreamDesc(index);
        break;
    case kKestPropertyDescType:
        OnPropertyDesc(index);
        break;
    case kKestBlockDescType:
        OnBlockDesc(index);
        break;
    default:
        break;
    }
}

void ModuleData::CountButtonPress(unsigned index) {
    for (int button = 0; button < 4; ++button) {
        const int id = GetPropId(kButtonProps[button]);
        if (id > 0 && unsigned(id) == index)
            ++buttons_[button];
    }
}

void ModuleData::OnStreamDesc(unsigned index) {
    const KestBlockDesc* block = GetOutputStreamBlockDesc();
    if (block == nullptr)
        return;
    const long stream = long(index) + 1 - long(block->first);
    if (stream < 1 || stream > 255) // not a stream id a data packet can carry
        return;
    const auto* desc = As<KestOutputStreamDesc>(SlotAt(index));
    const unsigned s = unsigned(stream);
    const std::string name = FieldText(desc->name);

    switch (desc->dataKind) {
    case kKestContinuousData:
    case kKestContinuousData16:
        // A ring needs a sample period and channels; without them the stream stays
        // unbuffered and its packets are dropped.
        if (shortRings_.count(s) || desc->period == 0 || desc->channelCount == 0)
            return;
        shortRings_[s] = std::make_unique<ContDataBuffer<short>>(
            kContTicks / desc->period, desc->channelCount, desc->period, double(desc->adcScale));
        streamNames_[name.empty() ? FieldText(desc->label) : name] = int(s);
        break;
    case kKestFloatData:
        if (floatRings_.count(s) || desc->period == 0 || desc->channelCount == 0)
            return;
        floatRings_[s] = std::make_unique<ContDataBuffer<float>>(
            kContTicks / desc->period, desc->channelCount, desc->period, double(desc->adcScale));
        streamNames_[name] = int(s);
        break;
    case kKestSegmentData: {
        if (segmentRings_.count(s))
            return;
        segmentRings_[s] =
            std::make_unique<SpikeDataBuffer<KestSegmentDataPacketFixed>>(kEventCapacity);
        // Per-channel streams share one name, which keeps the first stream's id.
        auto [entry, inserted] = streamNames_.emplace(name, int(s));
        if (!inserted)
            entry->second = std::min(entry->second, int(s));
        break;
    }
    case kKestDigitalEventData:
        if (digitalRings_.count(s))
            return;
        digitalRings_[s] =
            std::make_unique<SpikeDataBuffer<KestDigitalEventPacket>>(kEventCapacity);
        streamNames_["digin"] = int(s);
        break;
    default:
        break;
    }
}

void ModuleData::OnPropertyDesc(unsigned index) {
    const auto* desc = As<KestPropertyDesc>(SlotAt(index));
    const std::string name = FieldText(desc->name);

    if (desc->valueType == kKestComboBoxType && name.find("Filter") != std::string::npos &&
        name.find("Corner") == std::string::npos) {
        filterNames_[FilterKeyPrep(name)] = desc->valueIndex;
        return;
    }
    if (name == kNameTable[static_cast<int>(Prop::StimCalibration)].name) {
        propIds_[static_cast<int>(Prop::StimCalibration)] = int(index);
        return;
    }
    for (const NamedProp& entry : kNameTable) {
        if (name == entry.name) {
            propIds_[static_cast<int>(entry.prop)] = desc->valueIndex;
            return;
        }
    }
}

void ModuleData::OnBlockDesc(unsigned index) {
    blockIndices_.insert(index);
    const auto* block = As<KestBlockDesc>(SlotAt(index));
    const int first = block->first;
    const int end = first + block->count;
    if (block->kind == kKestSignalSelectionBlock) {
        sigSelFirst_ = first;
        sigSelEnd_ = end;
    } else if (block->kind == kKestInputConnectionBlock) {
        inputFirst_ = first;
        inputEnd_ = end;
    }
}

// ---------------------------------------------------------------------------
// Slots

bool ModuleData::HaveProperties() const {
    return !records_.empty() && received_ == records_.size();
}

std::vector<unsigned> ModuleData::GetMissingPropIds() const {
    std::vector<unsigned> missing;
    for (std::size_t i = 0; i < records_.size(); ++i) {
        if (!records_[i])
            missing.push_back(unsigned(i));
    }
    return missing;
}

void ModuleData::ClearProperty(int index) {
    if (SlotAt(index) != nullptr)
        std::memset(records_[std::size_t(index)].get(), 0, lengths_[std::size_t(index)]);
}

std::size_t ModuleData::GetPropertySize(int index) const {
    return index >= 0 && std::size_t(index) < lengths_.size() ? lengths_[std::size_t(index)] : 0;
}

KestProperty* ModuleData::GetKestProperty(int index) const {
    return SlotAt(index);
}

KestModuleDesc* ModuleData::GetModuleDesc() const {
    return As<KestModuleDesc>(SlotAt(0));
}

KestProperty* ModuleData::SlotAt(long index) const {
    if (index < 0 || std::size_t(index) >= records_.size())
        return nullptr;
    return reinterpret_cast<KestProperty*>(records_[std::size_t(index)].get());
}

KestProperty* ModuleData::TypedSlot(long index, std::uint8_t type) const {
    KestProperty* record = SlotAt(index);
    return record != nullptr && record->type == type ? record : nullptr;
}

// ---------------------------------------------------------------------------
// Blocks

// The first of the module's block descriptors (as many as its descriptor counts, in index
// order) for which match(block) holds.
template <typename Match> KestBlockDesc* ModuleData::FindBlock(Match match) const {
    const KestModuleDesc* module = GetModuleDesc();
    if (module == nullptr)
        return nullptr;
    unsigned passed = 0;
    for (unsigned index : blockIndices_) {
        if (passed >= module->blockCount)
            break;
        auto* block = As<KestBlockDesc>(TypedSlot(index, kKestBlockDescType));
        if (index == 0 || block == nullptr)
            continue;
        ++passed;
        if (match(*block))
            return block;
    }
    return nullptr;
}

KestBlockDesc* ModuleData::GetBlockDesc(unsigned kind) const {
    return FindBlock([kind](const KestBlockDesc& block) { return block.kind == kind; });
}

KestBlockDesc* ModuleData::GetPropertyBlockDesc(const std::string& name) const {
    return FindBlock([&name](const KestBlockDesc& block) { return FieldText(block.name) == name; });
}

KestBlockDesc* ModuleData::GetStimControlBlockDesc() const {
    return GetPropertyBlockDesc(kStimControlBlockName);
}

KestBlockDesc* ModuleData::GetSpikeThreshValuesBlockDesc() const {
    return GetPropertyBlockDesc(kThresholdBlockName);
}

// ---------------------------------------------------------------------------
// Streams

KestOutputStreamDesc* ModuleData::GetOutputStreamDesc(unsigned stream) const {
    const KestBlockDesc* block = GetOutputStreamBlockDesc();
    if (block == nullptr || stream == 0 || stream > block->count)
        return nullptr;
    return As<KestOutputStreamDesc>(SlotAt(long(block->first) + stream - 1));
}

int ModuleData::IsFloatStream(unsigned stream) const {
    const KestOutputStreamDesc* desc = GetOutputStreamDesc(stream);
    if (desc == nullptr)
        return -1;
    return desc->dataKind == kKestFloatData ? 1 : 0;
}

int ModuleData::GetStreamId(const std::string& name) const {
    auto found = streamNames_.find(name);
    return found == streamNames_.end() ? -1 : found->second;
}

std::vector<std::string> ModuleData::GetStreamStrings() const {
    std::vector<std::string> names;
    for (const auto& entry : streamNames_)
        names.push_back(entry.first);
    return names;
}

template <typename Map> static auto* FindRing(const Map& rings, unsigned stream) {
    auto found = rings.find(stream);
    return found == rings.end() ? nullptr : found->second.get();
}

ContDataBuffer<short>* ModuleData::GetContDataBuffer(unsigned stream) const {
    return FindRing(shortRings_, stream);
}

ContDataBuffer<float>* ModuleData::GetFloatDataBuffer(unsigned stream) const {
    return FindRing(floatRings_, stream);
}

SpikeDataBuffer<KestSegmentDataPacketFixed>* ModuleData::GetSpikeDataBuffer(unsigned stream) {
    return FindRing(segmentRings_, stream);
}

SpikeDataBuffer<KestDigitalEventPacket>* ModuleData::GetEventDataBuffer() const {
    return digitalRings_.size() == 1 ? digitalRings_.begin()->second.get() : nullptr;
}

std::uint32_t ModuleData::GetPAXTime() const {
    // The first ring holding a sample sets the start, so that times past 2^31 ticks are
    // not lost against a start of 0.
    std::uint32_t newest = 0;
    bool have = false;
    for (const auto& entry : shortRings_) {
        const std::uint32_t time = entry.second->GetLastTime();
        if (time == 0)
            continue;
        if (!have || std::int32_t(time - newest) > 0)
            newest = time;
        have = true;
    }
    return newest;
}

// ---------------------------------------------------------------------------
// Filters

KestComboBox* ModuleData::GetFilterComboBox(const std::string& name, int* index) const {
    auto found = filterNames_.find(FilterKeyPrep(name));
    if (found == filterNames_.end())
        return nullptr;
    if (index != nullptr)
        *index = found->second;
    return As<KestComboBox>(SlotAt(found->second));
}

KestSosFilterDesc* ModuleData::GetSosFilterDesc(const std::string& name, int item,
                                                int* index) const {
    const KestComboBox* combo = GetFilterComboBox(name, nullptr);
    if (combo == nullptr || item < 0 || item >= int(combo->itemCount))
        return nullptr;
    const auto* entry = As<KestComboBoxItem>(SlotAt(long(combo->firstItem) + item));
    if (entry == nullptr)
        return nullptr;
    if (index != nullptr)
        *index = entry->propIndex;
    return As<KestSosFilterDesc>(SlotAt(entry->propIndex));
}

std::vector<std::string> ModuleData::GetFilterStrings() const {
    std::vector<std::string> keys;
    for (const auto& entry : filterNames_)
        keys.push_back(entry.first);
    return keys;
}

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
