// UDPOperNetwork: the datagram link to the processor. A receive socket bound to the local
// port on every local address takes the processor's datagrams; a separate send socket sends
// what the configuration sender publishes in "configBuffer" to the processor address (the
// wired network's broadcast address unless one is given), in datagrams of whole packets of
// at most 1440 bytes. One thread of its own sends, receives and feeds the cache. Every
// datagram received is read whole and framed on its own (see IOClient).
//
// Configuration packets (answers, echoes, error messages) share the receive socket with the
// data streams. A link that falls behind (a busy machine) would let the kernel drop whole
// datagrams once the socket's buffer is full, configuration packets among them; so when
// more than half the buffer is queued, the link reads on but hands only configuration
// packets to the cache until less than an eighth is left. The data packets passed over
// leave gaps in their streams, which readers see as for any lost datagram.
//
// The port takes datagrams from any host. Packets that claim to come from the processor
// reach the cache only from the processor's address (the one given, or host 1 of the wired or
// the wireless network), operators' packets from any host of those networks; every other
// packet is dropped and counted, so that no other host can forge samples, a configuration or
// messages of the processor, nor a host off the networks an operator.
#pragma once

#include "links/NetConfig.h"
#include "transport/IOClient.h"
#include "transport/server/UDPNetwork.h"

#include <atomic>
#include <cstdint>
#include <string>

class KestCache;

namespace Network {

class UDPOperNetwork : public UDPNetwork {
  public:
    // Feeds `cache` (not owned); sends to `address`, or to the broadcast address of the
    // wired network when it is null or empty.
    UDPOperNetwork(KestCache* cache, const char* address, const NetConfig& config);
    // Stops the thread before the receiving endpoint goes away.
    ~UDPOperNetwork() override;

    KestPacket* RecvConfigPacket() override;
    bool DeleteConfigPacket(const KestPacket* packet) override;
    bool Initialize(unsigned short localPort, unsigned short remotePort, const char* address,
                    bool broadcast) override;
    void ServerMain(unsigned short localPort, unsigned short remotePort, const char* address,
                    bool broadcast) override;

    // Launches the thread and returns once its sockets are up (true) or have failed.
    bool StartUp();
    const std::string& Address() const { return address_; }
    net::sock_t ReceiveSocket() const { return receiveEndpoint_.Socket(); }
    // Data packets passed over while the link was behind.
    std::uint64_t SkippedDataPackets() const {
        return skippedData_.load(std::memory_order_relaxed);
    }
    // Received packets dropped because their datagram did not hold them whole.
    std::uint64_t DroppedPackets() const { return receiveEndpoint_.DroppedPackets(); }
    // Packets dropped for the address they came from.
    std::uint64_t ForeignPackets() const { return foreign_.load(std::memory_order_relaxed); }

  private:
    // Whether the link is behind now, given whether it was on the previous pass.
    bool FallenBehind(bool behind) const;
    // Whether a datagram from `source` (network order) came from the processor, or from a
    // host of the wired or the wireless network.
    bool FromProcessor(std::uint32_t source) const;
    bool OnNetworks(std::uint32_t source) const;

    KestCache* cache_;
    NetConfig config_;
    std::string address_;
    IOClient receiveEndpoint_;
    std::atomic<std::uint64_t> skippedData_{0};
    std::uint32_t processorHosts_[3]; // network order; 0 for none
    std::uint32_t networks_[2];       // host 0 of the wired and the wireless network
    std::atomic<std::uint64_t> foreign_{0};
};

} // namespace Network
