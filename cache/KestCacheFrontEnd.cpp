// Front-end records copied out under one hold of the lock: settings the library changes by
// sending a modified copy, combo box item texts, named property indices, and the text that
// names what drives an analog or digital output.
#include "cache/KestCache.h"

#include "cache/ModuleData.h"
#include "protocol/RecordText.h"

#include <algorithm>
#include <cstring>

namespace {

template <typename T> const T* As(const void* record) {
    return static_cast<const T*>(record);
}

// A stored record that counts as present: arrived, not cleared by an unanswered write.
const KestProperty* Present(const ModuleData* store, int index) {
    const KestProperty* record = store == nullptr ? nullptr : store->GetKestProperty(index);
    return record != nullptr && record->type != kKestRecordCleared ? record : nullptr;
}

// Input connection record: source module at 6, source stream at 7, source channel at 10.
constexpr std::size_t kConnectionMinimum = 12;
constexpr std::uint8_t kNoSource = 0;

} // namespace

std::size_t KestCache::CopyKestProperty(unsigned module, unsigned index, void* out,
                                        std::size_t capacity, std::uint8_t type,
                                        std::size_t minimum, bool cleared) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(module);
    const KestProperty* record =
        cleared ? (store == nullptr ? nullptr : store->GetKestProperty(int(index)))
                : Present(store, int(index));
    if (record == nullptr || (type != 0 && record->type != type)) {
        return 0;
    }
    const std::size_t length = store->GetPropertySize(int(index));
    if (length < minimum || length == 0) {
        return 0;
    }
    std::memcpy(out, record, std::min(length, capacity));
    return length;
}

bool KestCache::PatchKestProperty(unsigned module, unsigned index, std::size_t offset,
                                  const void* bytes, std::size_t length) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(module);
    KestProperty* record = store == nullptr ? nullptr : store->GetKestProperty(int(index));
    if (record == nullptr || offset + length > store->GetPropertySize(int(index))) {
        return false;
    }
    std::memcpy(reinterpret_cast<std::uint8_t*>(record) + offset, bytes, length);
    return true;
}

int KestCache::CopyComboItems(unsigned module, const KestComboBox& box, char (*items)[128],
                              int capacity) {
    if (items == nullptr || capacity <= 0) {
        return 0;
    }
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(module);
    const int count = std::min<int>(box.itemCount, capacity);
    for (int i = 0; i < count; ++i) {
        const auto* item = As<KestComboBoxItem>(Present(store, int(box.firstItem) + i));
        if (item == nullptr ||
            store->GetPropertySize(int(box.firstItem) + i) < sizeof(KestComboBoxItem)) {
            items[i][0] = '\0';
        } else {
            CopyRecordText(items[i], item->text);
        }
    }
    return count;
}

int KestCache::FindHWModule(unsigned electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    return GetHWModule(electrode);
}

int KestCache::GetNamedPropIndex(unsigned module, int prop) {
    if (prop < 0 || prop >= ModuleData::kPropCount) {
        return -1;
    }
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(module);
    const int index = store == nullptr ? -1 : store->GetPropId(ModuleData::Prop(prop));
    return index > 0 ? index : -1;
}

std::pair<int, int> KestCache::GetInputConnectionBlock(unsigned module) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(module);
    if (store == nullptr) {
        return {-1, -1};
    }
    const auto range = store->GetInputConnectionRange();
    return range.first > 0 ? range : std::pair<int, int>{-1, -1};
}

namespace {

// Physical channel record `channel` of a module's physical-channel block.
const KestPhysicalChannelDesc* PhysicalChannel(const ModuleData* store, long channel) {
    const KestBlockDesc* block = store == nullptr ? nullptr : store->GetPhysicalChannelBlockDesc();
    if (block == nullptr || channel < 0 || channel >= long(block->count)) {
        return nullptr;
    }
    const int index = int(block->first + channel);
    const auto* record = As<KestPhysicalChannelDesc>(Present(store, index));
    return record != nullptr && store->GetPropertySize(index) >= sizeof(KestPhysicalChannelDesc)
               ? record
               : nullptr;
}

// The first segment stream of a module (id and descriptor), 0 when none.
unsigned FirstSegmentStream(const ModuleData* store) {
    const KestBlockDesc* block = store->GetOutputStreamBlockDesc();
    for (unsigned s = 1; block != nullptr && s <= block->count; ++s) {
        const KestOutputStreamDesc* desc = store->GetOutputStreamDesc(s);
        if (desc != nullptr && desc->head.type == kKestOutputStreamDescType &&
            desc->dataKind == kKestSegmentData) {
            return s;
        }
    }
    return 0;
}

} // namespace

int KestCache::GetOutputSourceText(unsigned module, int channel, std::string* text) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* output = FindModule(module);
    if (output == nullptr || channel < 0) {
        return -1;
    }
    const auto [first, end] = output->GetInputConnectionRange();
    if (first <= 0 || channel >= end - first) {
        return -1;
    }
    const auto* connection =
        reinterpret_cast<const std::uint8_t*>(Present(output, first + channel));
    if (connection == nullptr || output->GetPropertySize(first + channel) < kConnectionMinimum) {
        return -1;
    }
    const unsigned sourceModule = connection[6];
    const unsigned sourceStream = connection[7];
    const unsigned sourceChannel = kest::LoadLe<std::uint16_t>(connection + 10);
    if (sourceModule == kNoSource) {
        *text = "Disabled";
        return 0;
    }
    ModuleData* source = FindModule(sourceModule);
    if (source == nullptr) {
        return -1;
    }
    const KestOutputStreamDesc* stream = source->GetOutputStreamDesc(sourceStream);
    const bool frontEnd = sourceModule < kKestAnalogModule;
    // The physical channel names of a front end live in its hardware (odd) module.
    const ModuleData* names =
        frontEnd && sourceModule % 2 == 0 ? FindModule(sourceModule - 1) : source;
    if (module == kKestDigitalModule) {
        const unsigned segment = FirstSegmentStream(source);
        if (segment == 0) {
            return -2;
        }
        const long within = long(sourceStream) - long(segment);
        const KestPhysicalChannelDesc* name = PhysicalChannel(names, within);
        const KestOutputStreamDesc* segmentDesc = source->GetOutputStreamDesc(segment);
        if (name == nullptr || segmentDesc == nullptr) {
            return -3;
        }
        *text = RecordText(name->name) + " - " + RecordText(segmentDesc->name);
        return 0;
    }
    if (stream == nullptr || stream->head.type != kKestOutputStreamDescType) {
        return -1;
    }
    if (frontEnd) {
        const KestPhysicalChannelDesc* name = PhysicalChannel(names, long(sourceChannel));
        if (name == nullptr) {
            return -3;
        }
        *text = RecordText(name->name) + " - " + RecordText(stream->name);
        return 0;
    }
    const KestBlockDesc* block = source->GetPhysicalChannelBlockDesc();
    for (long c = 0; block != nullptr && c < long(block->count); ++c) {
        const KestPhysicalChannelDesc* name = PhysicalChannel(source, c);
        if (name != nullptr && name->channel == sourceChannel) {
            *text = RecordText(name->name) + " - " + RecordText(stream->label);
            return 0;
        }
    }
    return -3;
}
