#include "links/OperAddress.h"

#include <arpa/inet.h>
#include <cstdio>

namespace Network {
namespace OperNetwork {

namespace {

std::string Dotted(unsigned a, unsigned b, unsigned c, unsigned d) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a & 0xFF, b & 0xFF, c & 0xFF, d & 0xFF);
    return text;
}

std::string Join(const std::string& prefix, const unsigned* octets, int count) {
    std::string text = prefix;
    for (int i = 0; i < count; ++i) {
        text += "." + std::to_string(octets[i]);
    }
    return text;
}

} // namespace

int ReadShortAddress(const char* text, unsigned octets[4]) {
    if (text == nullptr) {
        return 0;
    }
    unsigned values[4] = {0, 0, 0, 0};
    int count = std::sscanf(text, "%u.%u.%u.%u", &values[0], &values[1], &values[2], &values[3]);
    if (count < 0) {
        count = 0;
    }
    for (int i = 0; i < 4; ++i) {
        octets[i] = values[i] & 0xFF;
    }
    return count;
}

std::vector<std::string> ShortAddressCandidates(const char* text, KestConnectionPolicy policy,
                                                const NetConfig& config, ShortAddressUse use) {
    unsigned octets[4];
    const int count = ReadShortAddress(text, octets);
    std::vector<std::string> candidates;
    switch (count) {
    case 1: {
        const std::string wired = config.WiredHost(octets[0]);
        const std::string wireless = config.WirelessHost(octets[0]);
        if (use == ShortAddressUse::LookupUdp) {
            candidates = {wired};
        } else if (use == ShortAddressUse::LookupTcp) {
            candidates = {wired, wireless};
        } else if (policy == KL_PREFER_WIRED) {
            candidates = {wired, wireless};
        } else if (policy == KL_PREFER_WIRELESS) {
            candidates = {wireless, wired};
        } else if (policy == KL_WIRED_ONLY) {
            candidates = {wired};
        } else if (policy == KL_WIRELESS_ONLY) {
            candidates = {wireless};
        }
        break;
    }
    case 2:
        candidates = {Join(config.WiredOctets(2), octets, 2)};
        break;
    case 3:
        candidates = {Join(config.WiredOctets(1), octets, 3)};
        break;
    case 4:
        candidates = {Dotted(octets[0], octets[1], octets[2], octets[3])};
        break;
    default:
        break;
    }
    return candidates;
}

std::uint32_t EndpointId(const char* address) {
    in_addr parsed;
    if (address == nullptr || inet_pton(AF_INET, address, &parsed) != 1) {
        return kNoEndpoint;
    }
    return parsed.s_addr;
}

} // namespace OperNetwork
} // namespace Network
