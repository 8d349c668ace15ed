// UDPOperNetwork: the datagram link to the processor. A receive socket bound to the local
// port on every local address takes the processor's datagrams; a separate send socket sends
// what the configuration sender publishes in "configBuffer" to the processor address (the
// wired network's broadcast address unless one is given), in datagrams of whole packets of
// at most 1440 bytes. One thread of its own sends, receives and feeds the cache. Every
// datagram received is read whole and framed on its own (see IOClient).
#pragma once

#include "links/NetConfig.h"
#include "transport/IOClient.h"
#include "transport/server/UDPNetwork.h"

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
    // Received packets dropped because their datagram did not hold them whole.
    std::uint64_t DroppedPackets() const { return receiveEndpoint_.DroppedPackets(); }

  private:
    KestCache* cache_;
    NetConfig config_;
    std::string address_;
    IOClient receiveEndpoint_;
};

} // namespace Network
