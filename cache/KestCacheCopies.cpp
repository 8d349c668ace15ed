// Copies of stored records taken under the cache lock, for callers that read a record or
// change a copy of it while the link thread may replace it: what is copied is checked
// against what was stored, never read past it.
#include "cache/KestCache.h"

#include "cache/ModuleData.h"
#include "cache/StreamSwitch.h"
#include "protocol/RecordText.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// The property when it holds a record of `minimum` bytes or more; null otherwise.
const std::uint8_t* StoredRecord(const ModuleData& store, int index, std::size_t minimum) {
    const KestProperty* record = store.GetKestProperty(index);
    if (record == nullptr || record->type == kKestRecordCleared ||
        store.GetPropertySize(index) < std::max<std::size_t>(minimum, 1)) {
        return nullptr;
    }
    return reinterpret_cast<const std::uint8_t*>(record);
}

const KestOutputStreamDesc* StreamDesc(const ModuleData& store, int stream) {
    const KestOutputStreamDesc* desc = stream < 0 ? nullptr : store.GetOutputStreamDesc(stream);
    return desc != nullptr && desc->head.type == kKestOutputStreamDescType ? desc : nullptr;
}

// A switch record: a boolean, or one cleared while a confirmed write awaits its echo.
bool IsSwitch(const ModuleData& store, int index) {
    const KestProperty* record = store.GetKestProperty(index);
    return record != nullptr && store.GetPropertySize(index) >= sizeof(KestBool) &&
           (record->type == kKestBoolType || record->type == kKestRecordCleared);
}

} // namespace

bool KestCache::GetStreamSwitch(int electrode, const std::string& name, KestStreamSwitch* out) {
    *out = KestStreamSwitch{};
    std::lock_guard<std::mutex> hold(lock_);
    const int hw = electrode < 0 ? -1 : GetHWModule(unsigned(electrode));
    const ModuleData* store = hw <= 0 ? nullptr : FindModule(unsigned(hw));
    if (store == nullptr) {
        return false;
    }
    int module = hw;
    int stream = store->GetStreamId(name);
    if (stream < 0 && hw != int(kKestAnalogModule)) {
        module = hw + 1;
        store = FindModule(unsigned(module));
        stream = store == nullptr ? -1 : store->GetStreamId(name);
    }
    const KestOutputStreamDesc* desc = store == nullptr ? nullptr : StreamDesc(*store, stream);
    if (desc == nullptr) {
        return false;
    }
    out->module = module;
    out->stream = stream;
    out->flags = desc->head.flags;
    out->dataKind = desc->dataKind;

    // Per-channel streams have one descriptor (and switch) per channel, in channel order;
    // the channel's must exist and carry the same name, or the channel has no such stream.
    int channelStream = stream;
    const std::string_view streamName = RecordTextView(desc->name);
    if (streamName == "spk" || streamName == "stim") {
        channelStream = stream + int(unsigned(electrode) % 32);
        const KestOutputStreamDesc* channel = StreamDesc(*store, channelStream);
        if (channel == nullptr || RecordTextView(channel->name) != streamName) {
            return true;
        }
    }
    int index = -1;
    const KestBool* enable = store->GetSignalEnableProp(unsigned(channelStream), &index);
    if (enable == nullptr || !IsSwitch(*store, index)) {
        return true;
    }
    int count = 0;
    while (count < int(desc->channelCount) && index + count <= 0xFFFF &&
           IsSwitch(*store, index + count)) {
        ++count;
    }
    out->index = index;
    out->count = count;
    out->value = enable->value;
    return true;
}

bool KestCache::CopyFileSaveSelection(unsigned electrode, BmFeSignalSelectionDesc* out,
                                      unsigned* index) {
    std::lock_guard<std::mutex> hold(lock_);
    const ModuleData* store = FindModule(0);
    if (store == nullptr) {
        return false;
    }
    const unsigned port = electrode / 128;
    const unsigned slot = (electrode % 128) / 32;
    const auto [first, end] = store->GetSignalSelectionRange();
    for (int i = first; first > 0 && i < end; ++i) {
        const std::uint8_t* record = StoredRecord(*store, i, sizeof(BmFeSignalSelectionDesc));
        if (record == nullptr) {
            continue;
        }
        const auto* desc = reinterpret_cast<const BmFeSignalSelectionDesc*>(record);
        if (desc->port == port && desc->slot == slot) {
            std::memcpy(out, record, sizeof *out);
            if (index != nullptr) {
                *index = unsigned(i);
            }
            return true;
        }
    }
    return false;
}
