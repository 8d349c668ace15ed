// Locked copies for the stimulation calls: whole records checked against their stored size,
// bounded option lists and the calibration table's address.
#include "cache/KestCache.h"

#include "cache/ModuleData.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <typename T> const T* View(const KestProperty* record) {
    return reinterpret_cast<const T*>(record);
}

// The stored record at `index` when it holds at least `minimum` bytes and is not cleared.
const KestProperty* Sized(const ModuleData& store, int index, std::size_t minimum) {
    const KestProperty* record = store.GetKestProperty(index);
    if (record == nullptr || store.GetPropertySize(index) < minimum ||
        record->type == kKestRecordCleared) {
        return nullptr;
    }
    return record;
}

bool ParseWholeFloat(const std::string& text, float* value) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const float parsed = std::strtof(begin, &end);
    if (end == begin || *end != '\0' || errno == ERANGE) {
        return false;
    }
    *value = parsed;
    return true;
}

// The combo box of `store` with its items, each item checked for its own size.
const KestComboBox* Box(const ModuleData& store, KestComboBox* (ModuleData::*getter)(int*) const) {
    int index = -1;
    if ((store.*getter)(&index) == nullptr) {
        return nullptr;
    }
    return View<KestComboBox>(Sized(store, index, sizeof(KestComboBox)));
}

} // namespace

std::size_t KestCache::CopyPropertyRecord(unsigned module, unsigned index, void* dest,
                                          std::size_t capacity, std::size_t minimum) {
    if (dest == nullptr) {
        return 0;
    }
    // The one locked copy of a record (see KestCacheFrontEnd.cpp), then the zeroed rest.
    const std::size_t stored =
        CopyKestProperty(module, index, dest, capacity, 0, std::max<std::size_t>(minimum, 2));
    if (stored == 0) {
        return 0;
    }
    const std::size_t copied = std::min(stored, capacity);
    std::memset(static_cast<std::uint8_t*>(dest) + copied, 0, capacity - copied);
    return stored;
}

int KestCache::GetStimResOptions(int electrode, float* values, int max) {
    std::lock_guard<std::mutex> hold(lock_);
    const int hw = GetHWModule(unsigned(electrode));
    const ModuleData* store = hw < 0 ? nullptr : FindModule(unsigned(hw));
    const KestComboBox* box =
        store == nullptr ? nullptr : Box(*store, &ModuleData::GetStimResComboBox);
    if (box == nullptr || values == nullptr) {
        return 0;
    }
    const int count = std::min(int(box->itemCount), std::max(max, 0));
    for (int i = 0; i < count; ++i) {
        const auto* item = View<KestComboBoxItem>(
            Sized(*store, int(box->firstItem) + i, offsetof(KestComboBoxItem, text) + 1));
        if (item == nullptr) {
            return 0;
        }
        const std::size_t room = std::min(store->GetPropertySize(int(box->firstItem) + i) -
                                              offsetof(KestComboBoxItem, text),
                                          sizeof item->text);
        const std::string text(item->text, KestTextLength(item->text, room));
        if (!ParseWholeFloat(text, &values[i])) {
            return -1;
        }
    }
    return count;
}

int KestCache::GetExhaustOptions(int electrode, float* values, int max) {
    std::lock_guard<std::mutex> hold(lock_);
    const int hw = GetHWModule(unsigned(electrode));
    const ModuleData* store = hw < 0 ? nullptr : FindModule(unsigned(hw));
    const KestComboBox* box =
        store == nullptr ? nullptr : Box(*store, &ModuleData::GetExhaustComboBox);
    if (box == nullptr || values == nullptr) {
        return 0;
    }
    const int count = std::min(int(box->itemCount), std::max(max, 0));
    for (int i = 0; i < count; ++i) {
        const auto* item = View<KestComboBoxItem>(
            Sized(*store, int(box->firstItem) + i, offsetof(KestComboBoxItem, propIndex) + 2));
        const auto* value =
            item == nullptr ? nullptr
                            : View<KestFloat>(Sized(*store, item->propIndex, sizeof(KestFloat)));
        if (value == nullptr) {
            return 0;
        }
        values[i] = value->value > 9e8f ? 0.0f : value->value;
    }
    return count;
}

int KestCache::GetStimCalibAddress(int electrode, int* module, int* index) {
    std::lock_guard<std::mutex> hold(lock_);
    const int hw = GetHWModule(unsigned(electrode));
    const ModuleData* store = hw < 0 ? nullptr : FindModule(unsigned(hw));
    if (store == nullptr) {
        return 0;
    }
    int valueIndex = -1;
    int count = 0;
    if (store->GetStimCalibTable(&valueIndex, &count) == nullptr || valueIndex < 0 || count < 1) {
        return 0;
    }
    if (module != nullptr) {
        *module = hw;
    }
    if (index != nullptr) {
        *index = valueIndex;
    }
    return count;
}
