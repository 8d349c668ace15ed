// How the configuration sender reaches operator applications. The operator links and their
// registry own the connections; the sender sees them only through this interface.
//
// An endpoint address is an IPv4 address as a 32-bit value in network order: the last octet
// of the dotted form is the top 8 bits. A host part below 128 is a processor, 128 and above
// an operator.
#pragma once

#include "protocol/KestPacket.h"

#include <cstdint>

// Host part of an endpoint address: the last octet of its dotted form.
constexpr unsigned KestEndpointHost(std::uint32_t address) {
    return address >> 24;
}
constexpr bool KestEndpointIsProcessor(std::uint32_t address) {
    return KestEndpointHost(address) < 128;
}
// The target processor byte of a packet for that endpoint: its host part for a processor,
// 150 for every operator.
constexpr std::uint8_t KestEndpointProcessorId(std::uint32_t address) {
    return KestEndpointIsProcessor(address) ? std::uint8_t(KestEndpointHost(address))
                                            : kKestOperatorProcId;
}

class KestOperatorRoutes {
  public:
    virtual ~KestOperatorRoutes() = default;

    // True when the link is the direct datagram link to the processor: packets for any
    // address then go through the configuration ring.
    virtual bool IsDirectLink() const = 0;
    // Sends one complete packet to the operator at `address` over its own connection, at
    // once. False, with nothing sent, when no operator with that address is connected.
    virtual bool SendToOperator(std::uint32_t address, const KestPacket& packet) = 0;
    // Sends one complete packet to every connected operator; returns how many took it.
    virtual unsigned SendToAllOperators(const KestPacket& packet) = 0;
};
