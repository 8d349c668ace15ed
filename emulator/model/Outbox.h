// Packets the emulator is about to send, back to back as they go on the wire.
#pragma once

#include "emulator/model/Records.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace paxsim {

class Outbox {
  public:
    // Copies one whole packet (its size byte must match bytes).
    void Append(const void* packet, std::size_t bytes);
    // Every packet of another outbox.
    void Append(const Outbox& other) {
        bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
        packets_ += other.packets_;
    }
    // A configuration packet from the processor (processor id 1, stream 0) carrying record
    // at (module, index); records longer than one packet are cut to the packet.
    void AppendConfig(std::uint8_t module, std::uint16_t index, const Record& record,
                      std::uint32_t timestamp);
    void Clear() {
        bytes_.clear();
        packets_ = 0;
    }
    bool Empty() const { return bytes_.empty(); }
    std::size_t Packets() const { return packets_; }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    std::uint8_t* Data() { return bytes_.data(); }

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t packets_ = 0;
};

} // namespace paxsim
