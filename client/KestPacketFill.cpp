#include "client/KestPacketFill.h"

#include "protocol/KestPacket.h"
#include "protocol/KestPacketBuilder.h"

bool KestPutRecord(KestConfigSink& sink, unsigned processor, unsigned module, unsigned prop,
                   const void* record, std::size_t length, std::uint32_t timestamp) {
    const std::size_t bytes = KestConfigPacketBytes(length);
    KestPacket* packet = sink.NewConfigPacket(bytes);
    if (packet == nullptr) {
        return false;
    }
    return KestBuildConfigPacket(packet, bytes, std::uint8_t(processor), std::uint8_t(module),
                                 std::uint16_t(prop), record, length, timestamp) == bytes;
}

bool KestPutSequence(KestConfigSink& sink, unsigned module, unsigned prop,
                     const std::uint32_t* words, std::size_t count) {
    const std::size_t bytes = kKestConfigHeaderSize + kKestWordArrayHeadSize + 4 * count;
    KestPacket* packet = sink.NewConfigPacket(bytes);
    if (packet == nullptr) {
        return false;
    }
    // The sink hands out zeroed bytes: only the fields that are not 0 are written.
    std::uint8_t* out = packet->Bytes();
    out[0] = std::uint8_t(bytes / 4);
    out[8] = kKestProcessorId;
    out[9] = std::uint8_t(module);
    kest::StoreLe(out + 10, std::uint16_t(prop));
    // The array's capacity and length, both in 16-bit units.
    kest::StoreLe(out + 16, std::uint16_t(2 * count));
    kest::StoreLe(out + 18, std::uint16_t(2 * count));
    for (std::size_t i = 0; i < count; ++i) {
        kest::StoreLe(out + 28 + 4 * i, words[i]);
    }
    return true;
}
