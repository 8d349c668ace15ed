// One module of the emulated processor: its property records in index order and the
// indices the emulator's behaviour needs, found by name.
#pragma once

#include "emulator/model/Records.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace paxsim {

struct BlockRange {
    std::uint16_t first = 0;
    std::uint16_t count = 0;
};

// An output stream as the data generator sees it.
struct StreamInfo {
    std::uint8_t id = 0; // position in the output-stream block + 1
    std::string name;
    std::uint8_t dataKind = 0;
    std::uint8_t period = 1;
    std::uint16_t channels = 0;
    std::uint16_t descIndex = 0;   // index of its output stream descriptor
    std::uint16_t enableFirst = 0; // index of the first of its per-channel enable switches
    int channel = -1;              // per-channel segment streams: their channel
};

struct ModuleModel {
    std::uint8_t id = 0;
    std::uint16_t moduleClass = 0;
    std::string label;
    std::vector<Record> records;                // slot 0: the module descriptor
    std::map<std::string, std::uint16_t> named; // property name -> value index
    std::map<std::string, BlockRange> blocks;   // block name -> range
    std::vector<StreamInfo> streams;            // in stream id order

    bool Has(const std::string& name) const { return named.count(name) != 0; }
    std::uint16_t Index(const std::string& name) const { return named.at(name); }
    Record& Value(const std::string& name) { return records.at(named.at(name)); }
    const StreamInfo* Stream(const std::string& name) const;
    const StreamInfo* StreamById(std::uint8_t id) const;
    // Whether any per-channel enable switch of the stream is on.
    bool StreamEnabled(const StreamInfo& stream) const;
    bool ChannelEnabled(const StreamInfo& stream, unsigned channel) const;
};

} // namespace paxsim
