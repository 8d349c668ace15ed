// Trial and signal-selection descriptors of the processor and of the operators.
#include "cache/KestCache.h"

#include "cache/ModuleData.h"

#include <set>

namespace {

// Last octet of an IPv4 address held in network order.
unsigned LastOctet(std::uint32_t address) {
    return (address >> 24) & 0xFF;
}

// Processor id that addresses a peer: the last octet below 128, else 150 (an operator).
unsigned ProcessorIdOf(std::uint32_t address) {
    unsigned octet = LastOctet(address);
    return octet < 128 ? octet : kKestOperatorProcId;
}

// Key of a peer's descriptors: a processor's id, an operator's own address (operators are
// stored under the source they were received from).
std::uint32_t DescriptorKey(std::uint32_t address) {
    unsigned octet = LastOctet(address);
    return octet < 128 ? octet : address;
}

// The entry of map for an address; host part 0 picks the first entry.
template <typename Map> auto FindEntry(Map& map, std::uint32_t address) {
    return LastOctet(address) == 0 ? map.begin() : map.find(DescriptorKey(address));
}

} // namespace

std::unique_ptr<KestRecordingTrialDescriptor> KestCache::GetTrialDescriptor(std::uint32_t address) {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = FindEntry(trialDescs_, address);
    if (found == trialDescs_.end() || !found->second) {
        return nullptr;
    }
    return std::make_unique<KestRecordingTrialDescriptor>(*found->second);
}

std::unique_ptr<BmFeSignalSelectionDesc>
KestCache::GetSignalSelectionDescriptor(std::uint32_t address) {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = FindEntry(selectionDescs_, address);
    if (found == selectionDescs_.end() || !found->second) {
        return nullptr;
    }
    return std::make_unique<BmFeSignalSelectionDesc>(*found->second);
}

void KestCache::ResetTrialDescriptor(std::uint32_t address) {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = FindEntry(trialDescs_, address);
    if (found != trialDescs_.end()) {
        found->second.reset();
    }
}

void KestCache::ResetSignalSelectionDescriptor(std::uint32_t address) {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = FindEntry(selectionDescs_, address);
    if (found != selectionDescs_.end()) {
        found->second.reset();
    }
}

unsigned KestCache::GetOperators(unsigned* out, unsigned max) {
    std::lock_guard<std::mutex> hold(lock_);
    // Processor ids: an entry kept under an operator's address counts as 150, once.
    std::set<unsigned> ids;
    for (const auto& entry : trialDescs_) {
        ids.insert(entry.first < 256 ? unsigned(entry.first) : unsigned(kKestOperatorProcId));
    }
    unsigned written = 0;
    for (auto it = ids.begin(); it != ids.end() && written < max; ++it) {
        if (out != nullptr) {
            out[written] = *it;
        }
        ++written;
    }
    return out == nullptr ? 0 : written;
}

bool KestCache::CheckProcID(std::uint32_t address) {
    std::lock_guard<std::mutex> hold(lock_);
    if (trialDescs_.empty()) {
        return false;
    }
    return LastOctet(address) == 0 || trialDescs_.count(DescriptorKey(address)) != 0;
}

int KestCache::GetTrialDescriptorPropID(std::uint32_t address) {
    if (LastOctet(address) >= 128) {
        return kKestOperatorTrialPropIndex;
    }
    if (ProcessorIdOf(address) != kKestProcessorId) {
        return -1;
    }
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(0);
    return store == nullptr ? -1 : store->GetPropId(ModuleData::Prop::RecordingTrialDescriptor);
}

int KestCache::GetSignalSelectionDescriptorPropID(std::uint32_t address) {
    if (LastOctet(address) >= 128) {
        return kKestOperatorSignalSelectionPropIndex;
    }
    if (ProcessorIdOf(address) != kKestProcessorId) {
        return -1;
    }
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(0);
    return store == nullptr ? -1 : store->GetSignalSelectionRange().first;
}

BmFeSignalSelectionDesc* KestCache::GetFileSaveSelectionProp(unsigned electrode, unsigned* index) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = FindModule(0);
    if (store == nullptr) {
        return nullptr;
    }
    const unsigned port = electrode / 128;
    const unsigned slot = (electrode % 128) / 32;
    const auto [first, end] = store->GetSignalSelectionRange();
    for (int i = first; first > 0 && i < end; ++i) {
        auto* desc = reinterpret_cast<BmFeSignalSelectionDesc*>(store->GetKestProperty(i));
        if (desc != nullptr && desc->port == port && desc->slot == slot) {
            if (index != nullptr) {
                *index = unsigned(i);
            }
            return desc;
        }
    }
    return nullptr;
}
