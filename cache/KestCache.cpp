// Readiness, addressing, the electrode map and the locks of KestCache (packet intake:
// KestCacheIntake.cpp).
#include "cache/KestCache.h"

#include "cache/ContDataBuffer.h"
#include "cache/ErrorMessage.h"
#include "cache/ModuleData.h"
#include "cache/SpikeDataBuffer.h"
#include "protocol/RecordText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

KestCache::KestCache() = default;
KestCache::KestCache(CacheRingSizes ringSizes) : ringSizes_(ringSizes) {}
KestCache::~KestCache() = default;

// ---------------------------------------------------------------------------
// Readiness

bool KestCache::HaveModulesUnlocked() const {
    return modules_.size() == expectedModules_;
}

bool KestCache::HavePropertiesUnlocked() const {
    if (!HaveModulesUnlocked()) {
        return false;
    }
    for (const auto& [id, entry] : modules_) {
        if (!entry.store->HaveProperties()) {
            return false;
        }
    }
    return true;
}

bool KestCache::HaveModules() const {
    std::lock_guard<std::mutex> hold(lock_);
    return HaveModulesUnlocked();
}

bool KestCache::HaveProperties() const {
    std::lock_guard<std::mutex> hold(lock_);
    return HavePropertiesUnlocked();
}

bool KestCache::IsInit() const {
    std::lock_guard<std::mutex> hold(lock_);
    return initialised_;
}

bool KestCache::CheckInit() {
    if (HaveModulesUnlocked() && HavePropertiesUnlocked()) {
        initialised_ = true;
        BuildInternalData();
    }
    return initialised_;
}

int KestCache::GetStatus() const {
    std::lock_guard<std::mutex> hold(lock_);
    if (!intact_) {
        return kCacheConfigChanged;
    }
    if (initialised_) {
        return kCacheReady;
    }
    if (processorTime_ == 0) {
        return kCacheNoProcessor;
    }
    if (!HaveModulesUnlocked()) {
        return kCacheModulesMissing;
    }
    if (HavePropertiesUnlocked()) {
        return kCacheAwaitingInit;
    }
    return kCachePropertiesMissing;
}

std::vector<unsigned> KestCache::GetModuleList() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<unsigned> ids;
    for (const auto& [id, entry] : modules_) {
        ids.push_back(id);
    }
    return ids;
}

std::vector<unsigned> KestCache::GetBadModules() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<unsigned> ids;
    for (const auto& [id, entry] : modules_) {
        if (!entry.store->HaveProperties()) {
            ids.push_back(id);
        }
    }
    return ids;
}

std::vector<int> KestCache::GetMissingPropIds(unsigned module) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(module);
    if (store == nullptr) {
        return {};
    }
    std::vector<int> missing;
    for (auto index : store->GetMissingPropIds()) {
        missing.push_back(int(index));
    }
    return missing;
}

int KestCache::GetNumProperties(unsigned module) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(module);
    return store == nullptr ? -1 : int(store->GetNumProperties());
}

bool KestCache::HaveHWModule(unsigned module) {
    std::lock_guard<std::mutex> hold(lock_);
    return FindModule(module) != nullptr;
}

bool KestCache::HaveElectrode(unsigned electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    return electrodes_.count(electrode) != 0;
}

ModuleData* KestCache::FindModule(unsigned module) const {
    auto found = modules_.find(module);
    return found == modules_.end() ? nullptr : found->second.store.get();
}

// ---------------------------------------------------------------------------
// Addressing

unsigned KestCache::GetElectrodeID(unsigned port, unsigned slot, unsigned channel) {
    return (port * 4 + slot) * 32 + channel;
}

int KestCache::GetElecIDByChanDesc(const KestPhysicalChannelDesc* record, unsigned module) {
    if (module == kKestAnalogModule) {
        return RecordTextContains(record->name, "In") ? int(10240 + record->channel) : -1;
    }
    return int(record->port) * 128 + int(record->slot) * 32 + int(record->channel);
}

std::uint32_t KestCache::GetGUID(unsigned processor, unsigned module, unsigned index) {
    return (std::uint32_t(processor) << 24) + (std::uint32_t(module) << 16) +
           (std::uint32_t(index) << 8);
}

void KestCache::GetAddrByGUID(std::uint32_t guid, unsigned* processor, unsigned* module,
                              unsigned* index) {
    if (processor != nullptr) {
        *processor = (guid >> 24) & 0xFF;
    }
    if (module != nullptr) {
        *module = (guid >> 16) & 0xFF;
    }
    if (index != nullptr) {
        *index = (guid >> 8) & 0xFF;
    }
}

int KestCache::GetHWModule(unsigned electrode) {
    auto found = electrodes_.find(electrode);
    return found == electrodes_.end() ? -1 : int(found->second);
}

void KestCache::BuildInternalData() {
    for (auto& [id, entry] : modules_) {
        ModuleData& store = *entry.store;
        const KestModuleDesc* desc = store.GetModuleDesc();
        const KestBlockDesc* block = store.GetPhysicalChannelBlockDesc();
        if (desc == nullptr || block == nullptr) {
            continue;
        }
        const unsigned moduleClass = desc->moduleClass;
        if (moduleClass != 1 && moduleClass != 6 && moduleClass != 4) {
            continue;
        }
        for (unsigned i = block->first; i < unsigned(block->first) + block->count; ++i) {
            const auto* channel =
                reinterpret_cast<const KestPhysicalChannelDesc*>(store.GetKestProperty(int(i)));
            if (channel == nullptr) {
                continue;
            }
            if (moduleClass == 4) {
                if (!RecordTextContains(channel->name, "Out")) {
                    electrodes_[10240 + unsigned(channel->channel)] = id;
                }
            } else {
                electrodes_[unsigned(channel->port) * 128 + unsigned(channel->slot) * 32 +
                            channel->channel] = id;
            }
        }
    }
}

unsigned KestCache::GetElecList(unsigned* out, unsigned max, const char* pattern) {
    std::lock_guard<std::mutex> hold(lock_);
    const bool filter = pattern != nullptr && pattern[0] != '\0';
    unsigned written = 0;
    for (auto& [id, entry] : modules_) {
        if ((id & 1) == 0) {
            continue;
        }
        ModuleData& store = *entry.store;
        const KestModuleDesc* desc = store.GetModuleDesc();
        const KestBlockDesc* block = store.GetPhysicalChannelBlockDesc();
        if (desc == nullptr || block == nullptr) {
            continue;
        }
        if (filter && !RecordTextContains(desc->label, pattern)) {
            continue;
        }
        for (unsigned i = block->first; i < unsigned(block->first) + block->count; ++i) {
            const auto* channel =
                reinterpret_cast<const KestPhysicalChannelDesc*>(store.GetKestProperty(int(i)));
            if (channel == nullptr || (channel->head.flags & kKestChannelUnusedFlag)) {
                continue;
            }
            unsigned electrode;
            if (desc->moduleClass == 4) {
                if (RecordTextContains(channel->name, "Out")) {
                    continue;
                }
                electrode = 10240 + unsigned(channel->channel);
            } else {
                electrode =
                    unsigned(channel->port) * 128 + unsigned(channel->slot) * 32 + channel->channel;
            }
            if (written < max && out != nullptr) {
                out[written] = electrode;
            }
            ++written;
        }
    }
    return std::min(written, out == nullptr ? 0u : max);
}

std::map<unsigned, std::pair<unsigned, unsigned>> KestCache::GetStimAddr() {
    std::lock_guard<std::mutex> hold(lock_);
    std::map<unsigned, std::pair<unsigned, unsigned>> result;
    for (auto& [id, entry] : modules_) {
        ModuleData& store = *entry.store;
        const KestModuleDesc* desc = store.GetModuleDesc();
        if (desc == nullptr || desc->moduleClass != 1 || !RecordTextContains(desc->label, "stim")) {
            continue;
        }
        const KestBlockDesc* channels = store.GetPhysicalChannelBlockDesc();
        const KestBlockDesc* stim = store.GetStimControlBlockDesc();
        if (channels == nullptr || stim == nullptr) {
            continue;
        }
        const auto* first = reinterpret_cast<const KestPhysicalChannelDesc*>(
            store.GetKestProperty(channels->first));
        if (first == nullptr) {
            continue;
        }
        for (unsigned i = 0; i < stim->count; ++i) {
            unsigned key =
                unsigned(first->port) * 128 + first->channel + unsigned(first->slot) * 32 + i;
            result.try_emplace(key, id, unsigned(stim->first) + i);
        }
    }
    return result;
}

// ---------------------------------------------------------------------------
// Processor, properties and locks

std::uint32_t KestCache::GetPAXTime() {
    std::lock_guard<std::mutex> hold(lock_);
    if (modules_.empty()) {
        return processorTime_;
    }
    // Compared by signed difference from the first module that holds a sample, so that
    // times past 2^31 ticks and times just after the clock wraps still count as newer.
    std::uint32_t newest = 0;
    bool found = false;
    for (auto& [id, entry] : modules_) {
        std::uint32_t time = entry.store->GetPAXTime();
        if (time == 0) {
            continue;
        }
        if (!found || std::int32_t(time - newest) > 0) {
            newest = time;
            found = true;
        }
    }
    return found ? newest : processorTime_;
}

const KestModuleDesc* KestCache::GetPAXModuleDesc() {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(0);
    return store == nullptr ? nullptr : store->GetModuleDesc();
}

const KestProcessorDesc* KestCache::GetProcDesc() {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(0);
    if (store == nullptr) {
        return nullptr;
    }
    const KestBlockDesc* block = store->GetProcessorPropertyBlockDesc();
    if (block == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<const KestProcessorDesc*>(store->GetKestProperty(block->first));
}

int KestCache::GetButtonCount(int button) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(0);
    if (store == nullptr || button < 1 || button > 4) {
        return -1;
    }
    return int(store->TakeButtonCount(button));
}

std::unique_lock<std::mutex> KestCache::GetLock() {
    return std::unique_lock<std::mutex>(lock_);
}

KestProperty* KestCache::GetKestProperty(unsigned module, unsigned index) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(module);
    return store == nullptr ? nullptr : store->GetKestProperty(int(index));
}

void KestCache::ClearKestProperty(unsigned module, unsigned index) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(module);
    if (store != nullptr) {
        store->ClearProperty(int(index));
    }
}

std::size_t KestCache::GetPropertySize(unsigned module, unsigned index) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(module);
    return store == nullptr ? 0 : store->GetPropertySize(int(index));
}

bool KestCache::RegisterKestErrorCallback(ErrorCallbackFn fn, void* userData) {
    std::lock_guard<std::mutex> hold(lock_);
    for (const ErrorCallback& callback : callbacks_) {
        if (callback.fn == fn && callback.userData == userData) {
            return true;
        }
    }
    callbacks_.push_back({fn, userData});
    return true;
}

void KestCache::UnregisterKestErrorCallback(ErrorCallbackFn fn, void* userData) {
    std::lock_guard<std::mutex> hold(lock_);
    callbacks_.erase(std::remove_if(callbacks_.begin(), callbacks_.end(),
                                    [&](const ErrorCallback& callback) {
                                        return callback.fn == fn && callback.userData == userData;
                                    }),
                     callbacks_.end());
}
