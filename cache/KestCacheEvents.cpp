// Event retrieval: destructive reads of the spike, stimulation and digital input rings.
#include "cache/KestCache.h"

#include "cache/ModuleData.h"
#include "cache/SpikeDataBuffer.h"

#include <cstdio>
#include <stdexcept>
#include <string>

int KestCache::GetSegmentDataUnlocked(KestSegmentDataPacketFixed* dest, int* destSequences,
                                      std::uint32_t max, ModuleData* store, unsigned stream) {
    auto* ring = store->GetSpikeDataBuffer(int(stream));
    if (ring == nullptr) {
        std::fputs("KestCache::GetSegmentData - invalid stream", stderr);
        return -1;
    }
    return int(ring->GetEventPackets(dest, destSequences, max));
}

int KestCache::GetSegmentData(KestSegmentDataPacketFixed* dest, int* destSequences,
                              std::uint32_t max, unsigned module, unsigned stream) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(module);
    if (store == nullptr) {
        return 0;
    }
    return GetSegmentDataUnlocked(dest, destSequences, max, store, stream);
}

int KestCache::GetSpikeData(KestSegmentDataPacketFixed* dest, int* destSequences, std::uint32_t max,
                            unsigned electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    int hw = GetHWModule(electrode);
    ModuleData* store = hw < 0 ? nullptr : FindModule(unsigned(hw) + 1);
    const int spk = store == nullptr ? -1 : store->GetStreamId("spk");
    if (spk < 0) {
        return -1;
    }
    return GetSegmentDataUnlocked(dest, destSequences, max, store, unsigned(spk) + electrode % 32);
}

int KestCache::GetStimData(KestSegmentDataPacketFixed* dest, int* destSequences, std::uint32_t max,
                           unsigned electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    int hw = GetHWModule(electrode);
    if (hw < 0) {
        return -1;
    }
    ModuleData* store = FindModule(unsigned(hw));
    const int stim = store == nullptr ? -1 : store->GetStreamId("stim");
    if (stim < 0) {
        return 0;
    }
    return GetSegmentDataUnlocked(dest, destSequences, max, store, unsigned(stim) + electrode % 32);
}

int KestCache::GetDigitalInput(KestDigitalEventPacket* dest, int* destSequences,
                               std::uint32_t max) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(kKestDigitalModule);
    auto* ring = store == nullptr ? nullptr : store->GetEventDataBuffer();
    if (ring == nullptr) {
        return 0;
    }
    return int(ring->GetEventPackets(dest, destSequences, max));
}

// The segment ring of an electrode (spikes in the front end's processing module,
// stimulation in its hardware module). Every failure is an error naming the caller, so
// that nothing is read from a ring that is not there.
SpikeDataBuffer<KestSegmentDataPacketFixed>* KestCache::SegmentRing(unsigned electrode, bool stim,
                                                                    const char* caller) {
    int hw = GetHWModule(electrode);
    if (hw < 0) {
        throw std::runtime_error(std::string(caller) + "Could not find electrode");
    }
    ModuleData* store = FindModule(unsigned(hw) + (stim ? 0 : 1));
    if (store == nullptr) {
        throw std::runtime_error(std::string(caller) + "Could not find module");
    }
    const int first = store->GetStreamId(stim ? "stim" : "spk");
    auto* ring = first < 0 ? nullptr : store->GetSpikeDataBuffer(first + int(electrode % 32));
    if (ring == nullptr) {
        throw std::runtime_error(std::string(caller) + "Could not find segment stream");
    }
    return ring;
}

std::vector<KestSegmentBlock> KestCache::GetSpikesByElec(const std::vector<unsigned>& electrodes) {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<KestSegmentBlock> blocks;
    blocks.reserve(electrodes.size());
    for (unsigned electrode : electrodes) {
        auto drained = SegmentRing(electrode, false, "GetSegmentBlock")->GetEventPackets();
        blocks.push_back({std::move(drained.records), drained.count, drained.missing});
    }
    return blocks;
}

std::vector<KestSegmentBlock>
KestCache::GetStimDataByElec(const std::vector<unsigned>& electrodes) {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<KestSegmentBlock> blocks;
    blocks.reserve(electrodes.size());
    for (unsigned electrode : electrodes) {
        auto drained = SegmentRing(electrode, true, "GetSegmentBlock")->GetEventPackets();
        blocks.push_back({std::move(drained.records), drained.count, drained.missing});
    }
    return blocks;
}

std::vector<KestSegmentCount>
KestCache::GetSpikeCountsByElec(const std::vector<unsigned>& electrodes) {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<KestSegmentCount> counts;
    counts.reserve(electrodes.size());
    for (unsigned electrode : electrodes) {
        auto count = SegmentRing(electrode, false, "GetSegmentCountByElec")->GetEventCount();
        counts.emplace_back(count.first, count.second);
    }
    return counts;
}

std::vector<KestSegmentCount>
KestCache::GetStimCountsByElec(const std::vector<unsigned>& electrodes) {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<KestSegmentCount> counts;
    counts.reserve(electrodes.size());
    for (unsigned electrode : electrodes) {
        auto count = SegmentRing(electrode, true, "GetSegmentCountByElec")->GetEventCount();
        counts.emplace_back(count.first, count.second);
    }
    return counts;
}
