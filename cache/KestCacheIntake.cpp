// Packet intake of KestCache: every packet a link receives, under one hold of the lock.
#include "cache/KestCache.h"

#include "cache/ContDataBuffer.h"
#include "cache/ErrorMessage.h"
#include "cache/ModuleData.h"
#include "cache/SpikeDataBuffer.h"
#include "protocol/RecordText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// ---------------------------------------------------------------------------
// Packet intake

int KestCache::ProcKestPacket(const KestPacket* packet, std::uint32_t source) {
    DeferredError deferred;
    bool config = false;
    {
        const std::unique_lock<std::mutex> hold = TakeForIntake();
        if (packet == nullptr || packet->ByteSize() < kKestHeaderSize) {
            Malformed();
            return 0;
        }
        config = packet->procId == kKestProcessorId && packet->IsConfig();
        IntakeLocked(packet, source, deferred);
    }
    Deliver(deferred);
    if (config) {
        ConfigArrived();
    }
    return 0;
}

void KestCache::IntakeLocked(const KestPacket* packet, std::uint32_t source,
                             DeferredError& deferred) {
    if (packet->procId == kKestProcessorId) {
        ProcessorPacket(packet, deferred);
    } else {
        OperatorPacket(packet, source);
    }
    if (!initialised_) {
        CheckInit();
    }
}

// The callbacks run after the lock is released, so one that asks the cache something cannot
// deadlock the receive thread.
void KestCache::Deliver(DeferredError& deferred) {
    if (deferred.message == nullptr) {
        return;
    }
    for (const ErrorCallback& callback : deferred.callbacks) {
        callback.fn(callback.userData, deferred.message);
    }
    FreeErrorMessage(deferred.message);
    deferred.message = nullptr;
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
    } else if (initialised_) {
        // A module the processor never announced: its configuration changed. The cache stays
        // as it is (calls go on answering from it) until the connection is opened again.
        if (intact_) {
            std::printf("Error: new module? %u\n", module);
        }
        intact_ = false;
        return;
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
            created.store = std::make_unique<ModuleData>(
                reinterpret_cast<const KestModuleDesc*>(record), ringSizes_);
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

void KestCache::OperatorPacket(const KestPacket* packet, std::uint32_t source) {
    // Every operator writes processor id 150 (or its own host part) into its headers: what
    // tells two operators apart is the connection or address a packet arrived from.
    const bool fromOperator = (source >> 24) >= 128;
    const std::uint32_t key = fromOperator ? source : packet->procId;
    if (fromOperator || key >= 128) {
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
