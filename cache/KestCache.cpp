// Packet intake, readiness and the electrode map of KestCache.
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
KestCache::~KestCache() = default;

// ---------------------------------------------------------------------------
// Packet intake

int KestCache::ProcKestPacket(const KestPacket* packet) {
    DeferredError deferred;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (packet == nullptr || packet->ByteSize() < kKestHeaderSize) {
            Malformed();
            return 0;
        }
        if (packet->procId == kKestProcessorId) {
            ProcessorPacket(packet, deferred);
        } else {
            OperatorPacket(packet);
        }
        if (!initialised_) {
            CheckInit();
        }
    }
    // The callbacks run after the lock is released, so one that asks the cache something
    // cannot deadlock the receive thread.
    if (deferred.message != nullptr) {
        for (const ErrorCallback& callback : deferred.callbacks) {
            callback.fn(callback.userData, deferred.message);
        }
        FreeErrorMessage(deferred.message);
    }
    return 0;
}

std::uint64_t KestCache::GetMalformedCount() const {
    std::lock_guard<std::mutex> hold(lock_);
    return malformed_;
}

void KestCache::Malformed() {
    ++malformed_;
}

void KestCache::ProcessorPacket(const KestPacket* packet, DeferredError& deferred) {
    if (packet->moduleId == 0) {
        processorTime_ = packet->timestamp;
    }
    if (packet->IsConfig()) {
        if (packet->ByteSize() < kKestConfigHeaderSize) {
            Malformed();
            return;
        }
        ProcessorConfigPacket(reinterpret_cast<const KestConfigPacket*>(packet), deferred);
    } else {
        ProcessorDataPacket(packet);
    }
}

void KestCache::ProcessorConfigPacket(const KestConfigPacket* packet, DeferredError& deferred) {
    const unsigned module = packet->header.moduleId;
    const std::size_t length = packet->RecordLength();
    const std::uint8_t* record = packet->Record();
    ModuleEntry* entry = byId_[module];

    if (packet->moduleId == 0 && packet->propIndex == kKestErrorPropIndex) {
        ErrorPacket(packet, deferred);
    } else if (entry != nullptr) {
        entry->store->AddKestProperty(packet, packet->header.ByteSize());
    } else {
        if (initialised_) {
            std::printf("Error: new module? %u\n", module);
        }
        initialised_ = false;
    }

    switch (packet->RecordType()) {
    case kKestProcessorDescType:
        if (length < offsetof(KestProcessorDesc, moduleCount) + 2) {
            Malformed();
            return;
        }
        expectedModules_ =
            std::uint32_t(reinterpret_cast<const KestProcessorDesc*>(record)->moduleCount) + 1;
        break;
    case kKestModuleDescType:
        if (entry == nullptr) {
            if (length < kKestModuleDescSize) {
                Malformed();
                return;
            }
            ModuleEntry& created = modules_[module];
            created.store =
                std::make_unique<ModuleData>(reinterpret_cast<const KestModuleDesc*>(record));
            created.routes = std::make_unique<std::array<StreamRoute, 256>>();
            byId_[module] = &created;
        }
        break;
    case kKestTrialDescType:
        StoreDescriptor(packet->header.procId, record, length, true);
        break;
    case kKestSignalSelectionDescType:
        if (length >= offsetof(BmFeSignalSelectionDesc, valid) + 1 &&
            reinterpret_cast<const BmFeSignalSelectionDesc*>(record)->valid != 0) {
            StoreDescriptor(packet->header.procId, record, length, false);
        }
        break;
    default:
        break;
    }
}

// Stores a fresh copy of a trial (874 bytes) or signal-selection (520 bytes) descriptor
// under key; a record shorter than its layout is dropped and counted.
void KestCache::StoreDescriptor(std::uint32_t key, const std::uint8_t* record, std::size_t length,
                                bool trial) {
    const std::size_t needed = trial ? kKestTrialDescSize : kKestSignalSelectionDescSize;
    if (length < needed) {
        Malformed();
        return;
    }
    if (trial) {
        auto& slot = trialDescs_[key];
        if (!slot) {
            slot = std::make_unique<KestRecordingTrialDescriptor>();
        }
        std::memcpy(slot.get(), record, needed);
    } else {
        auto& slot = selectionDescs_[key];
        if (!slot) {
            slot = std::make_unique<BmFeSignalSelectionDesc>();
        }
        std::memcpy(slot.get(), record, needed);
    }
}

void KestCache::ErrorPacket(const KestConfigPacket* packet, DeferredError& deferred) {
    const std::size_t length = packet->RecordLength();
    const auto* wire = reinterpret_cast<const KestErrorMessage*>(packet->Record());
    if (length < kKestErrorMessageHeadSize ||
        kKestErrorMessageHeadSize + std::size_t(wire->textLength) > length) {
        Malformed();
        return;
    }
    KestErrorMessage_t* message = ErrorMessageFromKest(wire, length);
    if (message == nullptr) {
        return;
    }
    errors_.Push(message);
    if (callbacks_.empty()) {
        FreeErrorMessage(message);
        return;
    }
    deferred.message = message;
    deferred.callbacks = callbacks_;
}

void KestCache::OperatorPacket(const KestPacket* packet) {
    const std::uint32_t key = packet->procId;
    if (key > 128) {
        trialDescs_.try_emplace(key);
        selectionDescs_.try_emplace(key);
    }
    if (!packet->IsConfig() || packet->ByteSize() < kKestConfigHeaderSize) {
        return;
    }
    const auto* config = reinterpret_cast<const KestConfigPacket*>(packet);
    switch (config->RecordType()) {
    case kKestTrialDescType:
        StoreDescriptor(key, config->Record(), config->RecordLength(), true);
        break;
    case kKestSignalSelectionDescType:
        StoreDescriptor(key, config->Record(), config->RecordLength(), false);
        break;
    default:
        break;
    }
}

KestCache::StreamRoute* KestCache::Route(ModuleEntry& entry, unsigned stream) {
    StreamRoute& route = (*entry.routes)[stream & 0xFF];
    if (route.shorts == nullptr && route.floats == nullptr && route.segments == nullptr) {
        // Resolved once: buffers are never recreated while the store lives.
        ModuleData& store = *entry.store;
        if (store.IsFloatStream(stream) == 1) {
            route.floats = store.GetFloatDataBuffer(stream);
        } else {
            route.shorts = store.GetContDataBuffer(stream);
        }
        route.segments = store.GetSpikeDataBuffer(stream);
    }
    return &route;
}

void KestCache::ProcessorDataPacket(const KestPacket* packet) {
    if (!initialised_) {
        return;
    }
    ModuleEntry* entry = byId_[packet->moduleId];
    if (entry == nullptr) {
        intact_ = false;
        return;
    }
    if (packet->moduleId == 0) {
        return;
    }
    const std::size_t bytes = packet->ByteSize();
    if (bytes < sizeof(KestDataPacket)) {
        Malformed();
        return;
    }
    const auto* data = reinterpret_cast<const KestDataPacket*>(packet);
    switch (data->dataKind) {
    case kKestSegmentData: {
        StreamRoute* route = Route(*entry, packet->streamId);
        if (route->segments == nullptr) {
            return;
        }
        if (bytes < sizeof(KestSegmentDataPacketFixed)) {
            Malformed();
            return;
        }
        route->segments->AddEventPacket(reinterpret_cast<const KestSegmentDataPacketFixed*>(packet),
                                        data->flagsOrSeq);
        break;
    }
    case kKestDigitalEventData: {
        auto* ring = entry->store->GetEventDataBuffer();
        if (ring == nullptr) {
            return;
        }
        if (bytes < sizeof(KestDigitalEventPacket)) {
            Malformed();
            return;
        }
        ring->AddEventPacket(reinterpret_cast<const KestDigitalEventPacket*>(packet),
                             data->flagsOrSeq);
        break;
    }
    case kKestContinuousData: {
        if (data->flagsOrSeq & kKestStreamUnavailableFlags) {
            return;
        }
        StreamRoute* route = Route(*entry, packet->streamId);
        const std::size_t payload = bytes - sizeof(KestDataPacket);
        if (route->floats != nullptr) {
            if (payload < std::size_t(route->floats->GetChannels()) * sizeof(float)) {
                Malformed();
                return;
            }
            route->floats->AddTimeSample(reinterpret_cast<const float*>(data->Payload()),
                                         packet->timestamp);
        } else if (route->shorts != nullptr) {
            if (payload < std::size_t(route->shorts->GetChannels()) * sizeof(short)) {
                Malformed();
                return;
            }
            route->shorts->AddTimeSample(reinterpret_cast<const short*>(data->Payload()),
                                         packet->timestamp);
        } else if (entry->store->GetOutputStreamDesc(packet->streamId) == nullptr) {
            // A stream the processor never described: its configuration changed.
            intact_ = false;
        }
        // A described stream without a ring (sample period 0, a kind that is not
        // buffered) has its packets dropped.
        break;
    }
    default:
        break;
    }
}

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
