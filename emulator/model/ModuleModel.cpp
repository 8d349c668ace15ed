#include "emulator/model/ModuleModel.h"

namespace paxsim {

const StreamInfo* ModuleModel::Stream(const std::string& name) const {
    for (const StreamInfo& stream : streams) {
        if (stream.name == name) {
            return &stream;
        }
    }
    return nullptr;
}

const StreamInfo* ModuleModel::StreamById(std::uint8_t id) const {
    return id >= 1 && id <= streams.size() ? &streams[id - 1] : nullptr;
}

bool ModuleModel::ChannelEnabled(const StreamInfo& stream, unsigned channel) const {
    std::size_t index = std::size_t(stream.enableFirst) + channel;
    if (channel >= stream.channels || index >= records.size()) {
        return false;
    }
    const Record& record = records[index];
    return record.size() > 4 && record[4] != 0;
}

bool ModuleModel::StreamEnabled(const StreamInfo& stream) const {
    for (unsigned c = 0; c < stream.channels; ++c) {
        if (ChannelEnabled(stream, c)) {
            return true;
        }
    }
    return false;
}

} // namespace paxsim
