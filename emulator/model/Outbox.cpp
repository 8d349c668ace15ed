#include "emulator/model/Outbox.h"

#include "protocol/KestPacketBuilder.h"

#include <algorithm>

namespace paxsim {

void Outbox::Append(const void* packet, std::size_t bytes) {
    const auto* begin = static_cast<const std::uint8_t*>(packet);
    bytes_.insert(bytes_.end(), begin, begin + bytes);
    ++packets_;
}

void Outbox::AppendConfig(std::uint8_t module, std::uint16_t index, const Record& record,
                          std::uint32_t timestamp) {
    std::size_t length = std::min(record.size(), kKestMaxRecordSize);
    std::size_t at = bytes_.size();
    bytes_.resize(at + KestConfigPacketBytes(length));
    std::size_t written = KestBuildConfigPacket(&bytes_[at], bytes_.size() - at, kKestProcessorId,
                                                module, index, record.data(), length, timestamp);
    // The builder addresses packets to a processor; ours come from one.
    bytes_[at + 1] = kKestProcessorId;
    bytes_[at + 2] = module;
    bytes_.resize(at + written);
    ++packets_;
}

} // namespace paxsim
