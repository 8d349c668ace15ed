// Descriptor sends of KestClient: to the processor through the configuration ring, to an
// operator over its own connection.
#include "client/KestClient.h"

#include "cache/KestCache.h"
#include "client/KestPacketFill.h"
#include "protocol/KestPacketBuilder.h"

#include <cstring>

bool KestClient::SendDescriptor(std::uint32_t address, int propId, const void* desc,
                                std::size_t length) {
    if (propId < 0 || propId > 0xFFFF) {
        return false;
    }
    const std::uint8_t processor = KestEndpointProcessorId(address);
    const bool viaRing =
        KestEndpointIsProcessor(address) || (routes_ != nullptr && routes_->IsDirectLink());
    if (viaRing) {
        std::lock_guard<std::mutex> turn(sink_->WriteMutex());
        if (!KestPutRecord(*sink_, processor, 0, unsigned(propId), desc, length,
                           kKestSetTimestamp)) {
            return false;
        }
        sink_->SendConfigPacket();
        return true;
    }
    if (routes_ == nullptr) {
        return false;
    }
    alignas(4) std::uint8_t packet[kKestMaxPacketSize];
    if (KestBuildConfigPacket(packet, sizeof packet, processor, 0, std::uint16_t(propId), desc,
                              length, kKestSetTimestamp) == 0) {
        return false;
    }
    return routes_->SendToOperator(address, *reinterpret_cast<const KestPacket*>(packet));
}

bool KestClient::SendSignalSelectionDescriptor(std::uint32_t address, int index,
                                               const BmFeSignalSelectionDesc* desc) {
    KestCache* cache = cache_ != nullptr ? cache_ : gKestCache;
    if (cache == nullptr || index < 0 || index >= int(kKestSignalSelectionEntries)) {
        return false;
    }
    const int first = cache->GetSignalSelectionDescriptorPropID(address);
    if (first < 0) {
        return false;
    }
    return SendDescriptor(address, first + index, desc, desc != nullptr ? sizeof *desc : 0);
}

bool KestClient::SendTrialDesc(std::uint32_t address, const KestRecordingTrialDescriptor* desc) {
    KestCache* cache = cache_ != nullptr ? cache_ : gKestCache;
    if (cache == nullptr) {
        return false;
    }
    return SendDescriptor(address, cache->GetTrialDescriptorPropID(address), desc,
                          desc != nullptr ? sizeof *desc : 0);
}

int KestClient::SendFileSaveSelection(const BmFeSignalSelectionDesc& desc, unsigned processor,
                                      unsigned prop) {
    return SendRecord(processor, 0, prop, &desc, sizeof desc, kKestSetTimestamp);
}

// ---------------------------------------------------------------------------
// Address tables

int KestClient::GetStimAddrByElec(int* module, int* prop, int electrode) const {
    std::lock_guard<std::mutex> hold(tablesMutex_);
    auto found = stimAddr_.find(electrode);
    if (found == stimAddr_.end()) {
        return -1;
    }
    if (module != nullptr) {
        *module = int(found->second.first);
    }
    if (prop != nullptr) {
        *prop = int(found->second.second);
    }
    return 0;
}

void KestClient::SetStimAddr(const std::map<unsigned, std::pair<unsigned, unsigned>>& table) {
    std::map<int, Addr> copy;
    for (const auto& [electrode, addr] : table) {
        // An address the packet cannot carry would be cut to another property: left out.
        if (electrode <= 0x7FFFFFFF && addr.first <= 0xFF && addr.second <= 0xFFFF) {
            copy.emplace(int(electrode), addr);
        }
    }
    std::lock_guard<std::mutex> hold(tablesMutex_);
    stimAddr_.swap(copy);
}

void KestClient::SetElecAddr(const std::map<unsigned, unsigned>& map) {
    std::lock_guard<std::mutex> hold(tablesMutex_);
    elecAddr_ = map;
}

std::map<unsigned, unsigned> KestClient::GetElecAddr() const {
    std::lock_guard<std::mutex> hold(tablesMutex_);
    return elecAddr_;
}
