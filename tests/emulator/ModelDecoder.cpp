#include "ModelDecoder.h"

#include <cstring>

namespace paxsim_test {

const KestModuleDesc* DecodedModule::Desc() const {
    auto it = records.find(0);
    if (it == records.end() || it->second.size() < sizeof(KestModuleDesc)) {
        return nullptr;
    }
    return reinterpret_cast<const KestModuleDesc*>(it->second.data());
}

const std::vector<std::uint8_t>* DecodedModule::Record(std::uint16_t index) const {
    auto it = records.find(index);
    return it == records.end() ? nullptr : &it->second;
}

const KestBlockDesc* DecodedModule::BlockByKind(std::uint8_t kind) const {
    const KestModuleDesc* desc = Desc();
    if (!desc) {
        return nullptr;
    }
    unsigned seen = 0;
    for (std::uint16_t i = 1; i < desc->propertyCount && seen < desc->blockCount; ++i) {
        const auto* r = Record(i);
        if (r && r->size() >= 2 && (*r)[1] == kKestBlockDescType) {
            ++seen;
            const auto* block = reinterpret_cast<const KestBlockDesc*>(r->data());
            if (block->kind == kind) {
                return block;
            }
        }
    }
    return nullptr;
}

const KestBlockDesc* DecodedModule::BlockByName(const std::string& name) const {
    const KestModuleDesc* desc = Desc();
    if (!desc) {
        return nullptr;
    }
    unsigned seen = 0;
    for (std::uint16_t i = 1; i < desc->propertyCount && seen < desc->blockCount; ++i) {
        const auto* r = Record(i);
        if (r && r->size() >= 2 && (*r)[1] == kKestBlockDescType) {
            ++seen;
            const auto* block = reinterpret_cast<const KestBlockDesc*>(r->data());
            if (name == std::string(block->name, KestTextLength(block->name, sizeof block->name))) {
                return block;
            }
        }
    }
    return nullptr;
}

const KestPropertyDesc* DecodedModule::PropertyDesc(const std::string& name) const {
    for (const auto& [index, r] : records) {
        if (r.size() >= 12 && r[1] == kKestPropertyDescType) {
            const auto* desc = reinterpret_cast<const KestPropertyDesc*>(r.data());
            std::size_t cap = r.size() - 12;
            if (name == std::string(desc->name, KestTextLength(desc->name, cap))) {
                return desc;
            }
        }
    }
    return nullptr;
}

int DecodedModule::NameIndex(const std::string& name) const {
    const KestPropertyDesc* desc = PropertyDesc(name);
    return desc ? desc->valueIndex : -1;
}

const KestOutputStreamDesc* DecodedModule::StreamDesc(int id) const {
    const KestBlockDesc* block = BlockByKind(kKestOutputStreamBlock);
    if (!block || id < 1 || id > block->count) {
        return nullptr;
    }
    const auto* r = Record(static_cast<std::uint16_t>(block->first + id - 1));
    return r ? reinterpret_cast<const KestOutputStreamDesc*>(r->data()) : nullptr;
}

int DecodedModule::StreamId(const std::string& name) const {
    const KestBlockDesc* block = BlockByKind(kKestOutputStreamBlock);
    if (!block) {
        return -1;
    }
    for (int id = 1; id <= block->count; ++id) {
        const KestOutputStreamDesc* desc = StreamDesc(id);
        if (!desc) {
            continue;
        }
        std::string key(desc->name, KestTextLength(desc->name, sizeof desc->name));
        if (key.empty()) {
            key.assign(desc->label, KestTextLength(desc->label, sizeof desc->label));
        }
        if (desc->dataKind == kKestDigitalEventData) {
            key = "digin";
        }
        if (key == name) {
            return id;
        }
    }
    return -1;
}

int ModelDecoder::Feed(const std::vector<std::uint8_t>& bytes) {
    std::size_t at = 0;
    int count = 0;
    while (at < bytes.size()) {
        std::size_t size = std::size_t(bytes[at]) * 4;
        if (size < kKestHeaderSize || at + size > bytes.size()) {
            return -1;
        }
        std::vector<std::uint8_t> packet(bytes.begin() + at, bytes.begin() + at + size);
        at += size;
        ++count;
        if (packet[3] != kKestConfigStream) {
            dataPackets.push_back(std::move(packet));
            continue;
        }
        if (size < kKestConfigHeaderSize) {
            return -1;
        }
        ++configPackets;
        std::uint16_t index;
        std::memcpy(&index, &packet[10], 2);
        if (packet[9] == 0 && index == kKestErrorPropIndex) {
            errorPackets.push_back(std::move(packet));
            continue;
        }
        DecodedModule& module = modules[packet[2]];
        std::uint32_t stamp;
        std::memcpy(&stamp, &packet[4], 4);
        module.stamps[index] = stamp;
        module.records[index].assign(packet.begin() + 12, packet.end());
    }
    return count;
}

} // namespace paxsim_test
