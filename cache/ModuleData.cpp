#include "cache/ModuleData.h"

#include "cache/FilterKey.h"
#include "cache/ModuleDataNames.h"

#include <algorithm>
#include <cstring>

namespace {

using Prop = ModuleData::Prop;

std::unique_ptr<std::uint8_t[]> NewSlot() {
    return std::make_unique<std::uint8_t[]>(kKestMaxRecordSize); // zero-filled
}

// A text field read no further than its end, terminated or not.
template <std::size_t N> std::string FieldText(const char (&field)[N]) {
    return std::string(field, KestTextLength(field, N));
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

ModuleData::ModuleData(const KestModuleDesc* desc, CacheRingSizes sizes)
    : ModuleData(desc, kKestModuleDescSize) {
    ringSizes_ = sizes;
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
            ringSizes_.contTicks / desc->period, desc->channelCount, desc->period,
            double(desc->adcScale));
        streamNames_[name.empty() ? FieldText(desc->label) : name] = int(s);
        break;
    case kKestFloatData:
        if (floatRings_.count(s) || desc->period == 0 || desc->channelCount == 0)
            return;
        floatRings_[s] = std::make_unique<ContDataBuffer<float>>(
            ringSizes_.contTicks / desc->period, desc->channelCount, desc->period,
            double(desc->adcScale));
        streamNames_[name] = int(s);
        break;
    case kKestSegmentData: {
        if (segmentRings_.count(s))
            return;
        segmentRings_[s] =
            std::make_unique<SpikeDataBuffer<KestSegmentDataPacketFixed>>(ringSizes_.eventCapacity);
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
            std::make_unique<SpikeDataBuffer<KestDigitalEventPacket>>(ringSizes_.eventCapacity);
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
