// Property queries: the records behind an electrode's front-end settings, a module's or
// the processor's, with the module id and property index needed to change them.
#include "cache/KestCache.h"

#include "cache/FrontEndModels.h"
#include "cache/ModuleData.h"
#include "protocol/RecordText.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace {

template <typename T, typename P> T* As(P* record) {
    return reinterpret_cast<T*>(const_cast<void*>(static_cast<const void*>(record)));
}

constexpr float kDefaultLowerThreshold = -6554.0f;
constexpr float kDefaultUpperThreshold = 6554.0f;

// A 128-byte item text of a combo box, copied into a caller's slot.
void CopyItems(ModuleData& store, const KestComboBox* box, char (*items)[128]) {
    if (box == nullptr || items == nullptr) {
        return;
    }
    for (unsigned i = 0; i < box->itemCount; ++i) {
        auto* item = As<KestComboBoxItem>(store.GetKestProperty(int(box->firstItem) + int(i)));
        if (item == nullptr) {
            items[i][0] = '\0';
        } else {
            CopyRecordText(items[i], item->text);
        }
    }
}

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

template <typename Getter>
auto KestCache::ModuleQuery(unsigned module, int* outModule, Getter get) {
    ModuleData* store = FindModule(module);
    using Result = decltype(get(*store));
    if (store == nullptr) {
        return Result{};
    }
    if (outModule != nullptr) {
        *outModule = int(module);
    }
    return get(*store);
}

// The common pattern of the electrode queries: the caller holds the cache lock and has
// looked up the electrode's module hw; get(store) runs on module hw + offset (1: the
// front end's processing module) after the module id is written. An unknown electrode
// or module leaves the outputs untouched and yields a null record.
template <typename Getter>
auto KestCache::ElectrodeQuery(int hw, int offset, int* outModule, Getter get) {
    using Result = decltype(get(std::declval<ModuleData&>()));
    if (hw < 0) {
        return Result{};
    }
    return ModuleQuery(unsigned(hw + offset), outModule, get);
}

#define KEST_ELECTRODE_QUERY(Type, Name, Offset, Getter)                                           \
    Type* KestCache::Name(int electrode, int* module, int* index) {                                \
        std::lock_guard<std::mutex> hold(lock_);                                                   \
        return ElectrodeQuery(GetHWModule(unsigned(electrode)), Offset, module,                    \
                              [&](ModuleData& store) { return As<Type>(store.Getter(index)); });   \
    }

KEST_ELECTRODE_QUERY(KestBool, GetStimModuleEnable, 0, GetStimEnableBool)
KEST_ELECTRODE_QUERY(KestBool, GetModuleStimTriggerEnable, 0, GetStimTriggerBool)
KEST_ELECTRODE_QUERY(KestFloat, GetStimScaleFloat, 0, GetStimScaleFloat)
KEST_ELECTRODE_QUERY(KestComboBox, GetStimTriggerSourceComboBox, 0, GetStimTriggerSourceComboBox)
KEST_ELECTRODE_QUERY(KestComboBox, GetStimTriggerTypeComboBox, 0, GetStimTriggerTypeComboBox)
KEST_ELECTRODE_QUERY(KestProperty, GetStimEventTriggerMap, 0, GetStimEventTriggerMap)
KEST_ELECTRODE_QUERY(KestFloat, GetFastSettleStimDurFloat, 0, GetFastSettleStimDurFloat)
KEST_ELECTRODE_QUERY(KestFloat, GetFastSettleDurFloat, 0, GetFastSettleDurFloat)
KEST_ELECTRODE_QUERY(KestComboBox, GetADC2PhysComboBox, 0, GetADC2PhysComboBox)
KEST_ELECTRODE_QUERY(KestComboBox, GetStimResComboBox, 0, GetStimResComboBox)
KEST_ELECTRODE_QUERY(KestComboBox, GetExhaustComboBox, 0, GetExhaustComboBox)
#undef KEST_ELECTRODE_QUERY

KestComboBox* KestCache::GetFastSettleStimComboBox(int electrode, int* module, int* index,
                                                   char (*items)[128]) {
    std::lock_guard<std::mutex> hold(lock_);
    return ElectrodeQuery(GetHWModule(unsigned(electrode)), 0, module, [&](ModuleData& store) {
        auto* box = As<KestComboBox>(store.GetFastSettleStimComboBox(index));
        CopyItems(store, box, items);
        return box;
    });
}

KestComboBox* KestCache::GetFastSettleSourceComboBox(int electrode, int* module, int* index,
                                                     char (*items)[128]) {
    std::lock_guard<std::mutex> hold(lock_);
    return ElectrodeQuery(GetHWModule(unsigned(electrode)), 0, module, [&](ModuleData& store) {
        auto* box = As<KestComboBox>(store.GetFastSettleSourceComboBox(index));
        CopyItems(store, box, items);
        return box;
    });
}

KestComboBox* KestCache::GetHwLowCornerComboBox(int electrode, int* module, int* index, char*) {
    std::lock_guard<std::mutex> hold(lock_);
    return ElectrodeQuery(GetHWModule(unsigned(electrode)), 0, module, [&](ModuleData& store) {
        return As<KestComboBox>(store.GetHwLowCornerComboBox(index));
    });
}

KestBool* KestCache::GetHwGroundEnable(int electrode, int* module, int* index) {
    std::lock_guard<std::mutex> hold(lock_);
    return ElectrodeQuery(GetHWModule(unsigned(electrode)), 0, module, [&](ModuleData& store) {
        return As<KestBool>(store.GetHwGroundEnable(unsigned(electrode) % 32, index));
    });
}

KestBool* KestCache::GetHwReferenceEnable(int electrode, int* module, int* index) {
    std::lock_guard<std::mutex> hold(lock_);
    return ElectrodeQuery(GetHWModule(unsigned(electrode)), 0, module, [&](ModuleData& store) {
        return As<KestBool>(store.GetHwReferenceEnable(unsigned(electrode) % 32, index));
    });
}

KestModuleDesc* KestCache::GetModuleDesc(int electrode, int* module) {
    std::lock_guard<std::mutex> hold(lock_);
    int hw = GetHWModule(unsigned(electrode));
    if (hw < 1) {
        return nullptr;
    }
    return ElectrodeQuery(hw, 0, module, [&](ModuleData& store) {
        return As<KestModuleDesc>(store.GetModuleDesc());
    });
}

KestComboBox* KestCache::GetFilterComboBox(int electrode, const std::string& name, int* module,
                                           int* index) {
    std::lock_guard<std::mutex> hold(lock_);
    return ElectrodeQuery(GetHWModule(unsigned(electrode)), 1, module, [&](ModuleData& store) {
        return As<KestComboBox>(store.GetFilterComboBox(name, index));
    });
}

KestSosFilterDesc* KestCache::GetSosFilterDesc(int electrode, const std::string& name, int item,
                                               int* module, int* index) {
    std::lock_guard<std::mutex> hold(lock_);
    int hw = GetHWModule(unsigned(electrode));
    if (hw < 1) {
        return nullptr;
    }
    return ElectrodeQuery(hw, 1, module, [&](ModuleData& store) {
        return As<KestSosFilterDesc>(store.GetSosFilterDesc(name, item, index));
    });
}

std::pair<float, float> KestCache::GetSpikeThreshValues(int electrode, int* module, int* index) {
    std::pair<float, float> thresholds{kDefaultLowerThreshold, kDefaultUpperThreshold};
    std::lock_guard<std::mutex> hold(lock_);
    const std::uint8_t* record =
        ElectrodeQuery(GetHWModule(unsigned(electrode)), 1, module, [&](ModuleData& store) {
            return As<const std::uint8_t>(
                store.GetSpikeThreshValues(int(unsigned(electrode) % 32), index));
        });
    if (record != nullptr) {
        thresholds.first = kest::LoadLe<float>(record + 20);
        thresholds.second = kest::LoadLe<float>(record + 24);
    }
    return thresholds;
}

KestOutputStreamDesc* KestCache::GetOutputStreamDesc(int electrode, const std::string& name,
                                                     int* module, int* stream) {
    std::lock_guard<std::mutex> hold(lock_);
    int hw = GetHWModule(unsigned(electrode));
    ModuleData* store = hw < 0 ? nullptr : FindModule(unsigned(hw));
    if (store == nullptr) {
        return nullptr;
    }
    int id = hw;
    int found = store->GetStreamId(name);
    if (found < 0 && hw != int(kKestAnalogModule)) {
        id = hw + 1;
        store = FindModule(unsigned(id));
        found = store == nullptr ? -1 : store->GetStreamId(name);
    }
    if (found < 0) {
        return nullptr;
    }
    if (module != nullptr) {
        *module = id;
    }
    if (stream != nullptr) {
        *stream = found;
    }
    return As<KestOutputStreamDesc>(store->GetOutputStreamDesc(found));
}

int KestCache::GetSignalEnableProp(int electrode, const std::string& name, int* module, int* index,
                                   int* count) {
    std::lock_guard<std::mutex> hold(lock_);
    int hw = GetHWModule(unsigned(electrode));
    if (hw <= 0) {
        return -1;
    }
    ModuleData* store = FindModule(unsigned(hw));
    if (store == nullptr) {
        return -1;
    }
    int id = hw;
    if (module != nullptr) {
        *module = id;
    }
    int stream = store->GetStreamId(name);
    if (stream < 0 && hw != int(kKestAnalogModule)) {
        id = hw + 1;
        store = FindModule(unsigned(id));
        if (store == nullptr) {
            return -1;
        }
        if (module != nullptr) {
            *module = id;
        }
        stream = store->GetStreamId(name);
    }
    if (stream < 0) {
        return -1;
    }
    auto* desc = As<KestOutputStreamDesc>(store->GetOutputStreamDesc(stream));
    if (desc == nullptr) {
        return -1;
    }
    std::string_view streamName = RecordTextView(desc->name);
    if (streamName == "spk" || streamName == "stim") {
        stream += int(unsigned(electrode) % 32);
    }
    int enableIndex = -1;
    auto* enable = As<KestBool>(store->GetSignalEnableProp(stream, &enableIndex));
    if (enable == nullptr) {
        return -1;
    }
    if (index != nullptr) {
        *index = enableIndex;
    }
    if (count != nullptr) {
        *count = desc->channelCount;
    }
    return enable->value;
}

KestBool* KestCache::GetGlobalStimEnable(int* module, int* index) {
    std::lock_guard<std::mutex> hold(lock_);
    return ModuleQuery(0, module, [&](ModuleData& store) -> KestBool* {
        auto* block = As<KestBlockDesc>(store.GetModuleScopePropertyBlockDesc());
        if (block == nullptr) {
            return nullptr;
        }
        for (int i = block->first; i < int(block->first) + int(block->count); ++i) {
            auto* desc = As<KestPropertyDesc>(store.GetKestProperty(i));
            if (desc == nullptr || desc->head.type != kKestPropertyDescType ||
                desc->valueType != kKestBoolType || RecordTextView(desc->name) != "Stim Enable") {
                continue;
            }
            auto* value = As<KestBool>(store.GetKestProperty(desc->valueIndex));
            if (value == nullptr || value->head.type != kKestBoolType) {
                continue;
            }
            if (index != nullptr) {
                *index = desc->valueIndex;
            }
            return value;
        }
        return nullptr;
    });
}

KestBool* KestCache::GetGlobalStimTriggerEnable(int* module, int* index) {
    std::lock_guard<std::mutex> hold(lock_);
    return ModuleQuery(0, module, [&](ModuleData& store) {
        return As<KestBool>(store.GetStimTriggerBool(index));
    });
}

KestAudioTone* KestCache::GetAudioTone(int* module, int* index) {
    std::lock_guard<std::mutex> hold(lock_);
    return ModuleQuery(
        0, module, [&](ModuleData& store) { return As<KestAudioTone>(store.GetAudioTone(index)); });
}

KestProperty* KestCache::GetStimLatency(int* module, int* index) {
    std::lock_guard<std::mutex> hold(lock_);
    return ModuleQuery(0, module, [&](ModuleData& store) {
        return As<KestProperty>(store.GetStimLatency(index));
    });
}

KestProperty* KestCache::GetWallSensor() {
    std::lock_guard<std::mutex> hold(lock_);
    return ModuleQuery(0, nullptr, [&](ModuleData& store) {
        return As<KestProperty>(store.GetWallSensor(nullptr));
    });
}

KestProperty* KestCache::GetVddSensor() {
    std::lock_guard<std::mutex> hold(lock_);
    return ModuleQuery(0, nullptr, [&](ModuleData& store) {
        return As<KestProperty>(store.GetVddSensor(nullptr));
    });
}

int KestCache::GetInternalBatteryPct() {
    std::lock_guard<std::mutex> hold(lock_);
    auto* record = ModuleQuery(0, nullptr, [&](ModuleData& store) {
        return As<KestInteger>(store.GetInternalBatteryPct(nullptr));
    });
    return record == nullptr ? -1 : record->value;
}

int KestCache::GetExternalBatteryPct() {
    std::lock_guard<std::mutex> hold(lock_);
    auto* record = ModuleQuery(0, nullptr, [&](ModuleData& store) {
        return As<KestInteger>(store.GetExternalBatteryPct(nullptr));
    });
    return record == nullptr ? -1 : record->value;
}

bool KestCache::GetExternalBatteryDetected() {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(0);
    if (store == nullptr) {
        return true;
    }
    auto* record = As<KestBool>(store->GetExternalBatteryDetected(nullptr));
    return record != nullptr && record->value != 0;
}

KestBool* KestCache::GetDigitalCaptureBitChange(int* module, int* index) {
    std::lock_guard<std::mutex> hold(lock_);
    return ModuleQuery(kKestDigitalModule, module, [&](ModuleData& store) {
        return As<KestBool>(store.GetDigitalBitChangeBool(index));
    });
}

int KestCache::GetDigIOSignalProp(int* module, int* index) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(kKestDigitalModule);
    if (store == nullptr) {
        return -1;
    }
    if (module != nullptr) {
        *module = int(kKestDigitalModule);
    }
    int stream = store->GetStreamId("digin");
    auto* enable = stream < 0 ? nullptr : As<KestBool>(store->GetSignalEnableProp(stream, index));
    return enable == nullptr ? -1 : enable->value;
}

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

namespace {

int CopyNames(const std::vector<std::string>& names, char (*out)[128], int max, int written) {
    for (const std::string& name : names) {
        if (written >= max) {
            break;
        }
        if (out != nullptr) {
            std::size_t length = name.size() < 127 ? name.size() : 127;
            name.copy(out[written], length);
            out[written][length] = '\0';
        }
        ++written;
    }
    return written;
}

} // namespace

int KestCache::GetStreamStrings(char (*out)[128], int max, int electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    int hw = GetHWModule(unsigned(electrode));
    ModuleData* store = hw < 0 ? nullptr : FindModule(unsigned(hw));
    if (store == nullptr) {
        return -1;
    }
    int written = CopyNames(store->GetStreamStrings(), out, max, 0);
    const KestModuleDesc* desc = store->GetModuleDesc();
    if (desc != nullptr && desc->moduleClass == 4) {
        return written;
    }
    if (ModuleData* next = FindModule(unsigned(hw) + 1)) {
        written = CopyNames(next->GetStreamStrings(), out, max, written);
    }
    return written;
}

int KestCache::GetFilterStrings(char (*out)[128], int max, int electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    int hw = GetHWModule(unsigned(electrode));
    if (hw < 0) {
        return -1;
    }
    ModuleData* store = FindModule(unsigned(hw) + 1);
    return store == nullptr ? 0 : CopyNames(store->GetFilterStrings(), out, max, 0);
}

int KestCache::GetOutputStrings(char (*out)[128], int module) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = module < 0 ? nullptr : FindModule(unsigned(module));
    if (store == nullptr) {
        return -1;
    }
    const auto [first, end] = store->GetInputConnectionRange();
    if (first <= 0) {
        return 0;
    }
    int written = 0;
    for (int i = 0; i < end - first; ++i) {
        auto* item = As<KestComboBoxItem>(store->GetInputConnection(i));
        if (item == nullptr) {
            return -1;
        }
        if (out != nullptr) {
            CopyRecordText(out[written], item->text);
        }
        ++written;
    }
    return written;
}

KestFEVersion KestCache::GetFEVersionUnlocked(int electrode) {
    int hw = GetHWModule(unsigned(electrode));
    ModuleData* store = hw < 0 ? nullptr : FindModule(unsigned(hw));
    if (store == nullptr) {
        throw std::runtime_error("GetFEVersionCould not find electrode");
    }
    const KestModuleDesc* desc = store->GetModuleDesc();
    if (desc == nullptr) {
        throw std::runtime_error("GetFEVersionModuleDesc property not found");
    }
    std::string text = RecordText(desc->hwVersion);
    if (text.size() < 15) {
        // A version text too short to hold the revision digits is reported like the
        // other lookup failures instead of escaping as an out-of-range error.
        throw std::runtime_error("GetFEVersionVersion text too short");
    }
    auto digits = [&](std::size_t first, std::size_t count) {
        int value = 0;
        for (std::size_t i = first; i < first + count && text[i] >= '0' && text[i] <= '9'; ++i) {
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    KestFEVersion version;
    version.name = text.substr(0, 11);
    version.major = digits(12, 1);
    version.minor = digits(14, 1);
    version.build = digits(7, 4);
    return version;
}

KestFEVersion KestCache::GetFEVersion(int electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    return GetFEVersionUnlocked(electrode);
}

namespace {

template <typename List> bool NameHasAny(const std::string& name, const List& parts) {
    for (const char* part : parts) {
        if (name.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

bool KestCache::HasStimCalib(int electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    try {
        return NameHasAny(GetFEVersionUnlocked(electrode).name, kStimCalibPartNumbers);
    } catch (const std::runtime_error&) {
        return false;
    }
}

bool KestCache::HasMaxStimLimit(int electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    try {
        return NameHasAny(GetFEVersionUnlocked(electrode).name, kMaxStimLimitPartNumbers);
    } catch (const std::runtime_error&) {
        return false;
    }
}
