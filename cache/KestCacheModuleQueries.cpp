// Queries of module-scope and processor-wide properties: global stimulation switches, audio
// tone, sensors, batteries and digital capture.
#include "cache/KestCacheQuery.h"

#include "protocol/RecordText.h"

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
