// Queries of an electrode's front-end settings: the records behind them, with the module id
// and property index needed to change them. Module-scope queries: KestCacheModuleQueries.cpp;
// stimulation conversion and options: KestCacheStimQueries.cpp; names and front-end models:
// KestCacheNames.cpp.
#include "cache/KestCacheQuery.h"

#include "protocol/RecordText.h"

#include <string>

namespace {

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

} // namespace

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
