// Stimulation queries of an electrode: sample conversions, the calibration table and the
// resolution and exhausting-resistor options.
#include "cache/KestCacheQuery.h"

#include "protocol/RecordText.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

bool ParseDecimalFloat(const char* text, float* value) {
    char* end = nullptr;
    errno = 0;
    float parsed = std::strtof(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE) {
        return false;
    }
    *value = parsed;
    return true;
}

} // namespace

float KestCache::GetSpikeConv(int electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    int hw = GetHWModule(unsigned(electrode));
    ModuleData* store = hw < 0 ? nullptr : FindModule(unsigned(hw) + 1);
    if (store == nullptr) {
        return 0;
    }
    int stream = store->GetStreamId("spk");
    auto* desc = stream < 0 ? nullptr
                            : As<KestOutputStreamDesc>(store->GetOutputStreamDesc(
                                  stream + int(unsigned(electrode) % 32)));
    return desc == nullptr ? 0 : desc->adcScale;
}

float KestCache::GetStimConv(int electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    int hw = GetHWModule(unsigned(electrode));
    ModuleData* store = hw < 0 ? nullptr : FindModule(unsigned(hw));
    if (store == nullptr) {
        return 0;
    }
    int stream = store->GetStreamId("stim");
    auto* desc = stream < 0 ? nullptr
                            : As<KestOutputStreamDesc>(store->GetOutputStreamDesc(
                                  stream + int(unsigned(electrode) % 32)));
    return desc == nullptr ? 0 : desc->adcScale;
}

std::uint32_t KestCache::GetStimCalibData(int electrode, unsigned short* table, int* module,
                                          int* index) {
    std::lock_guard<std::mutex> hold(lock_);
    int hw = GetHWModule(unsigned(electrode));
    ModuleData* store = hw < 0 ? nullptr : FindModule(unsigned(hw));
    if (store == nullptr) {
        return 0;
    }
    if (module != nullptr) {
        *module = hw;
    }
    int valueIndex = -1;
    int count = 0;
    auto* head = As<const std::uint8_t>(store->GetStimCalibTable(&valueIndex, &count));
    if (head == nullptr) {
        return 0;
    }
    if (index != nullptr) {
        *index = valueIndex;
    }
    const std::uint32_t status = kest::LoadLe<std::uint32_t>(head + 16);
    if (table != nullptr && status > 3 && count > 1) {
        for (int i = 0; i < count - 1; ++i) {
            auto* block = As<const std::uint8_t>(store->GetKestProperty(valueIndex + 1 + i));
            if (block == nullptr) {
                std::memset(table + 128 * i, 0, 128 * sizeof(unsigned short));
                continue;
            }
            std::memcpy(table + 128 * i, block + 20, 128 * sizeof(unsigned short));
        }
    }
    return status;
}

int KestCache::GetStimResOptions(int electrode, float* values) {
    std::lock_guard<std::mutex> hold(lock_);
    int hw = GetHWModule(unsigned(electrode));
    ModuleData* store = hw < 0 ? nullptr : FindModule(unsigned(hw));
    auto* box = store == nullptr ? nullptr : As<KestComboBox>(store->GetStimResComboBox(nullptr));
    if (box == nullptr) {
        return 0;
    }
    for (unsigned i = 0; i < box->itemCount; ++i) {
        auto* item = As<KestComboBoxItem>(store->GetKestProperty(int(box->firstItem) + int(i)));
        if (item == nullptr) {
            return 0;
        }
        float value = 0;
        if (!ParseDecimalFloat(RecordText(item->text).c_str(), &value)) {
            return -1;
        }
        if (values != nullptr) {
            values[i] = value;
        }
    }
    return box->itemCount;
}

int KestCache::GetExhaustOptions(int electrode, float* values) {
    std::lock_guard<std::mutex> hold(lock_);
    int hw = GetHWModule(unsigned(electrode));
    ModuleData* store = hw < 0 ? nullptr : FindModule(unsigned(hw));
    auto* box = store == nullptr ? nullptr : As<KestComboBox>(store->GetExhaustComboBox(nullptr));
    if (box == nullptr) {
        return 0;
    }
    for (unsigned i = 0; i < box->itemCount; ++i) {
        auto* item = As<KestComboBoxItem>(store->GetKestProperty(int(box->firstItem) + int(i)));
        auto* value =
            item == nullptr ? nullptr : As<KestFloat>(store->GetKestProperty(item->propIndex));
        if (value == nullptr) {
            return 0;
        }
        if (values != nullptr) {
            values[i] = value->value > 9e8f ? 0.0f : value->value;
        }
    }
    return box->itemCount;
}
