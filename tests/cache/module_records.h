// Property records and configuration packets for feeding a module store in tests.
#pragma once

#include "cache/ModuleData.h"
#include "protocol/KestPacket.h"

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

Bytes ModuleDescRecord(std::uint16_t propertyCount, std::uint16_t blockCount,
                       std::uint16_t moduleClass = 1, const std::string& label = "front end");
Bytes BlockRecord(std::uint8_t kind, std::uint16_t first, std::uint16_t count,
                  const std::string& name = "");
Bytes PropDescRecord(const std::string& name, std::uint8_t valueType, std::uint16_t valueIndex,
                     std::uint16_t valueCount = 1);
Bytes StreamRecord(std::uint8_t kind, std::uint8_t period, std::uint16_t channels,
                   const std::string& name, const std::string& label = "",
                   std::uint16_t firstChannelRecord = 0, float scale = 0.25f);
Bytes ChannelRecord(std::uint16_t physChannelIndex, std::uint16_t enableIndex = 0);
Bytes PhysChannelRecord(std::uint8_t port, std::uint8_t slot, std::uint16_t channel);
Bytes BoolRecord(std::uint8_t value, std::uint8_t flags = 0);
Bytes ComboRecord(std::uint16_t selection, std::uint16_t firstItem, std::uint16_t itemCount,
                  std::uint8_t flags = 0);
Bytes ComboItemRecord(std::uint16_t propIndex, const std::string& text);
Bytes SosRecord(const std::string& label, std::uint8_t stages);

// A store of `count` properties and `blocks` block descriptors.
ModuleData MakeStore(std::uint16_t count, std::uint16_t blocks = 8);

// Builds the configuration packet in a buffer of exactly its length and hands it to the
// store, so that any read past the packet is seen by the address sanitizer.
void Send(ModuleData& store, std::uint16_t index, const Bytes& record, std::uint8_t module = 1);
// The same with the size byte saying sizeWords while only `available` bytes exist.
void SendRaw(ModuleData& store, std::uint16_t index, const Bytes& record, std::uint8_t module,
             std::uint8_t sizeWords, std::size_t available);

// The slot's address, for comparing with the typed pointers the getters return.
inline const void* Slot(const ModuleData& store, int index) {
    return store.GetKestProperty(index);
}
