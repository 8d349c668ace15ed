#include "module_records.h"

#include "protocol/KestPacketBuilder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

template <typename Record>
Bytes ToBytes(const Record& record, std::size_t length = sizeof(Record)) {
    Bytes bytes(length);
    std::memcpy(bytes.data(), &record, std::min(length, sizeof(Record)));
    return bytes;
}

template <std::size_t N> void Put(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N));
}

} // namespace

Bytes ModuleDescRecord(std::uint16_t propertyCount, std::uint16_t blockCount,
                       std::uint16_t moduleClass, const std::string& label) {
    KestModuleDesc desc{};
    desc.head = {1, kKestModuleDescType, 0, 0};
    desc.moduleClass = moduleClass;
    desc.blockCount = blockCount;
    desc.propertyCount = propertyCount;
    Put(desc.label, label);
    return ToBytes(desc);
}

Bytes BlockRecord(std::uint8_t kind, std::uint16_t first, std::uint16_t count,
                  const std::string& name) {
    KestBlockDesc block{};
    block.head = {1, kKestBlockDescType, 0, 0};
    block.kind = kind;
    block.first = first;
    block.count = count;
    Put(block.name, name);
    return ToBytes(block);
}

Bytes PropDescRecord(const std::string& name, std::uint8_t valueType, std::uint16_t valueIndex,
                     std::uint16_t valueCount) {
    KestPropertyDesc desc{};
    desc.head = {1, kKestPropertyDescType, 0, 0};
    desc.valueType = valueType;
    desc.valueIndex = valueIndex;
    desc.valueCount = valueCount;
    Put(desc.name, name);
    return ToBytes(desc);
}

Bytes StreamRecord(std::uint8_t kind, std::uint8_t period, std::uint16_t channels,
                   const std::string& name, const std::string& label,
                   std::uint16_t firstChannelRecord, float scale) {
    KestOutputStreamDesc desc{};
    desc.head = {1, kKestOutputStreamDescType, 0, 0};
    desc.dataKind = kind;
    desc.period = period;
    desc.channelCount = channels;
    desc.firstChannelRecord = firstChannelRecord;
    desc.adcScale = scale;
    Put(desc.label, label);
    Put(desc.name, name);
    return ToBytes(desc);
}

Bytes ChannelRecord(std::uint16_t physChannelIndex, std::uint16_t enableIndex) {
    KestStreamChannelRecord record{};
    record.head = {1, 40, 0, 0};
    record.physChannelIndex = physChannelIndex;
    record.enableIndex = enableIndex;
    return ToBytes(record);
}

Bytes PhysChannelRecord(std::uint8_t port, std::uint8_t slot, std::uint16_t channel) {
    KestPhysicalChannelDesc record{};
    record.head = {1, 41, 0, 0};
    record.port = port;
    record.slot = slot;
    record.channel = channel;
    return ToBytes(record);
}

Bytes BoolRecord(std::uint8_t value, std::uint8_t flags) {
    KestBool record{};
    record.head = {1, kKestBoolType, flags, 0};
    record.value = value;
    return ToBytes(record);
}

Bytes ComboRecord(std::uint16_t selection, std::uint16_t firstItem, std::uint16_t itemCount,
                  std::uint8_t flags) {
    KestComboBox combo{};
    combo.head = {1, kKestComboBoxType, flags, 0};
    combo.selection = selection;
    combo.firstItem = firstItem;
    combo.itemCount = itemCount;
    return ToBytes(combo);
}

Bytes ComboItemRecord(std::uint16_t propIndex, const std::string& text) {
    KestComboBoxItem item{};
    item.head = {1, 8, 0, 0};
    item.propIndex = propIndex;
    Put(item.text, text);
    return ToBytes(item);
}

Bytes SosRecord(const std::string& label, std::uint8_t stages) {
    KestSosFilterDesc sos{};
    sos.head = {1, kKestSosFilterDescType, 0, 0};
    Put(sos.label, label);
    sos.stageCount = stages;
    return ToBytes(sos, sos.RecordLength());
}

ModuleData MakeStore(std::uint16_t count, std::uint16_t blocks) {
    Bytes desc = ModuleDescRecord(count, blocks);
    return ModuleData(reinterpret_cast<const KestModuleDesc*>(desc.data()), desc.size());
}

void Send(ModuleData& store, std::uint16_t index, const Bytes& record, std::uint8_t module) {
    const std::size_t length = KestConfigPacketBytes(record.size());
    ASSERT_LE(length, kKestMaxPacketSize);
    auto packet = std::make_unique<std::uint32_t[]>(length / 4);
    ASSERT_EQ(KestBuildConfigPacket(packet.get(), length, kKestProcessorId, module, index,
                                    record.data(), record.size(), 7),
              length);
    auto* config = reinterpret_cast<KestConfigPacket*>(packet.get());
    config->header.procId = kKestProcessorId;
    config->header.moduleId = module;
    store.AddKestProperty(config, length);
}

void SendRaw(ModuleData& store, std::uint16_t index, const Bytes& record, std::uint8_t module,
             std::uint8_t sizeWords, std::size_t available) {
    auto packet = std::make_unique<std::uint8_t[]>(available);
    Bytes full(kKestConfigHeaderSize + record.size());
    full[0] = sizeWords;
    full[1] = kKestProcessorId;
    full[2] = module;
    full[8] = kKestProcessorId;
    full[9] = module;
    full[10] = std::uint8_t(index);
    full[11] = std::uint8_t(index >> 8);
    if (!record.empty())
        std::memcpy(full.data() + kKestConfigHeaderSize, record.data(), record.size());
    std::memcpy(packet.get(), full.data(), std::min(available, full.size()));
    store.AddKestProperty(reinterpret_cast<const KestConfigPacket*>(packet.get()), available);
}
