// A small independent reader of the emulator's configuration packets, applying the
// lookup rules a client uses: records by index, block descriptors among the first
// properties, names from property descriptors, streams from the output-stream block.
#pragma once

#include "protocol/KestPacket.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace paxsim_test {

struct DecodedModule {
    std::map<std::uint16_t, std::vector<std::uint8_t>> records;
    std::map<std::uint16_t, std::uint32_t> stamps;

    const KestModuleDesc* Desc() const;
    const std::vector<std::uint8_t>* Record(std::uint16_t index) const;
    // Block descriptor by kind or name (scan from index 1, at most the declared count).
    const KestBlockDesc* BlockByKind(std::uint8_t kind) const;
    const KestBlockDesc* BlockByName(const std::string& name) const;
    // Value index of the property descriptor with this exact name, -1 when absent.
    int NameIndex(const std::string& name) const;
    const KestPropertyDesc* PropertyDesc(const std::string& name) const;
    // Stream id by short name (or label when empty), the first one for per-channel streams.
    int StreamId(const std::string& name) const;
    const KestOutputStreamDesc* StreamDesc(int id) const;
};

class ModelDecoder {
  public:
    // Cuts bytes into packets; returns the number taken, or -1 on a malformed packet.
    int Feed(const std::vector<std::uint8_t>& bytes);
    std::map<std::uint8_t, DecodedModule> modules;
    std::vector<std::vector<std::uint8_t>> dataPackets;
    std::vector<std::vector<std::uint8_t>> errorPackets;
    std::size_t configPackets = 0;
};

} // namespace paxsim_test
