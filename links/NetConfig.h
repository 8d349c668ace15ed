// Where the processor and the operators are: the wired and wireless networks (first three
// octets) and the port base, read from the environment each time a link or a probe starts.
//
//   KEST_WIRED_NET     default "192.168.42"
//   KEST_WIRELESS_NET  default "192.168.43"
//   KEST_PORT_BASE     default 2045
//
// The processor is host 1 of either network. Ports: presence probe BASE; UDP link receives
// on BASE+1 and sends to BASE+2; TCP data BASE+1, configuration BASE+2; operators TCP BASE+2.
#pragma once

#include <cstdint>
#include <string>

namespace Network {

struct NetConfig {
    std::string wiredNet = "192.168.42";
    std::string wirelessNet = "192.168.43";
    std::uint16_t portBase = 2045;

    // The defaults overridden by the environment. False, with the reason in `error`, when a
    // variable is set to something that is not a network of three numbers up to 255 or a
    // port base from 1 to 65533; `config` then holds the defaults.
    static bool FromEnvironment(NetConfig* config, std::string* error);
    // "a.b.c" with exactly three numbers up to 255.
    static bool ValidNet(const char* text);

    std::string WiredHost(unsigned host) const { return wiredNet + "." + std::to_string(host); }
    std::string WirelessHost(unsigned host) const {
        return wirelessNet + "." + std::to_string(host);
    }
    // The processor on the wired or the wireless network.
    std::string ProcessorAddress(bool wireless) const {
        return wireless ? WirelessHost(1) : WiredHost(1);
    }
    // Where the UDP link sends when no processor address is given.
    std::string BroadcastAddress() const { return WiredHost(255); }
    // The first one or two octets of the wired network, for the operator shorthand.
    std::string WiredOctets(unsigned count) const;

    std::uint16_t ProbePort() const { return portBase; }
    std::uint16_t DataPort() const { return std::uint16_t(portBase + 1); }
    std::uint16_t ConfigPort() const { return std::uint16_t(portBase + 2); }
    std::uint16_t UdpLocalPort() const { return std::uint16_t(portBase + 1); }
    std::uint16_t UdpRemotePort() const { return std::uint16_t(portBase + 2); }
    std::uint16_t OperatorPort() const { return std::uint16_t(portBase + 2); }
};

} // namespace Network
