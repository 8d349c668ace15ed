// Peripheral lookups: the property indices of the processor's panel and of any module's
// named properties, which the peripheral and transceiver calls need to address a write.
#include "cache/KestCache.h"

#include "cache/ModuleData.h"

int KestCache::GetNamedPropId(unsigned module, int prop) {
    if (prop < 0 || prop >= ModuleData::kPropCount) {
        return -1;
    }
    std::lock_guard<std::mutex> hold(lock_);
    const ModuleData* store = FindModule(module);
    const int id = store == nullptr ? -1 : store->GetPropId(static_cast<ModuleData::Prop>(prop));
    return id > 0 ? id : -1;
}

int KestCache::GetPanelPropId(KestPanelProp kind, int number) {
    std::lock_guard<std::mutex> hold(lock_);
    const ModuleData* store = FindModule(0);
    if (store == nullptr) {
        return -1;
    }
    switch (kind) {
    case KestPanelProp::Button:
        return store->GetButtonPropId(number);
    case KestPanelProp::ButtonMonitor:
        return store->GetButtonMonitorPropId(number);
    case KestPanelProp::Led:
        return store->GetLedPropId(number);
    case KestPanelProp::LedMonitor:
        return store->GetLedMonitorPropId(number);
    }
    return -1;
}
