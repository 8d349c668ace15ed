// Endpoint ids and the short addresses a user types for an operator or a processor.
//
// An endpoint id is the IPv4 address as the dotted-address parser stores it: the octets
// in written order from the lowest byte up, so the last octet is the top 8 bits. A host
// part (last octet) below 128 is a processor, 128 and above an operator.
//
// Short addresses, each number cut to its low 8 bits:
//   n       host n of the wired and of the wireless network, ordered by the policy
//   a.b     the wired network's first two octets, then a.b
//   a.b.c   the wired network's first octet, then a.b.c
//   a.b.c.d that address
#pragma once

#include "include/kestlib.h"
#include "links/NetConfig.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Network {
namespace OperNetwork {

// No endpoint.
constexpr std::uint32_t kNoEndpoint = 0xFFFFFFFF;

// Reads up to four numbers separated by dots at the start of `text`, each cut to 8 bits.
// Returns how many were read (0 for a null text or one that does not start with a number).
int ReadShortAddress(const char* text, unsigned octets[4]);

enum class ShortAddressUse {
    Connect,   // adding an operator: n gives both networks in policy order
    LookupUdp, // looking up on the datagram link: n gives the wired network only
    LookupTcp, // looking up on the stream link: n gives wired, then wireless
};

// The dotted addresses a short address stands for, in the order to try them. Empty when
// the text has no number, or when a one-number address comes with an unknown policy.
std::vector<std::string> ShortAddressCandidates(const char* text, KestConnectionPolicy policy,
                                                const NetConfig& config, ShortAddressUse use);

// The endpoint id of a dotted address; kNoEndpoint when it is not one.
std::uint32_t EndpointId(const char* address);

} // namespace OperNetwork
} // namespace Network
