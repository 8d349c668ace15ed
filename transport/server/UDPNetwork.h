// UDPNetwork: the packet server over UDP. One datagram socket, bound to the server's
// address and port, carries everything: the config endpoint receives configuration packets
// and sends the published "configBuffer", the data sender sends the published "dataBuffer",
// each in datagrams of whole packets of at most 1440 bytes. A thread of its own does the
// sending and receiving.
//
// The processor link derives from this class and replaces Initialize and ServerMain.
#pragma once

#include "transport/CircularKestBuffer.h"
#include "transport/IOClient.h"
#include "transport/NetworkBase.h"
#include "transport/NetworkExport.h"
#include "transport/OutputClient.h"
#include "transport/StartupGate.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace Network {

// Limits of the UDP endpoints: one datagram, and three datagrams of receive room.
constexpr std::uint64_t kUdpChunkLimit = 1440;
constexpr std::uint64_t kUdpReceiveCapacity = 4320;

class KEST_NETWORK_API UDPNetwork : public NetworkBase {
  public:
    // A server on the packet server family's rings.
    UDPNetwork();
    // Shuts the thread down when it still runs.
    ~UDPNetwork() override;

    KestPacket* RecvConfigPacket() override;
    bool DeleteConfigPacket(const KestPacket* packet) override;
    void Shutdown() override;

    // Sets up the socket: bound to (address, localPort), sending to (address, remotePort),
    // or to its own port when remotePort is 0. Broadcast is set only when asked for.
    virtual bool Initialize(unsigned short localPort, unsigned short remotePort,
                            const char* address, bool broadcast);
    // The thread body: Initialize, then send and receive until Shutdown. An override must
    // call ReportStartup once its sockets are up or have failed: Start waits for that (or
    // for the thread to end).
    virtual void ServerMain(unsigned short localPort, unsigned short remotePort,
                            const char* address, bool broadcast);

    // Resets both rings, launches the thread and waits until it has set up its socket.
    // True when it has; a second Start while running is refused.
    bool Start(unsigned short localPort, unsigned short remotePort, const char* address,
               bool broadcast);

    // The port the socket is bound to (useful when 0 asked for any free port).
    unsigned short LocalPort() const { return localPort_.load(); }
    // Socket buffer sizes read back after setup (0 before).
    int ReceiveBufferSize() const { return receiveBufferSize_.load(); }
    int SendBufferSize() const { return sendBufferSize_.load(); }

  protected:
    UDPNetwork(CircularKestBuffer& dataRing, CircularKestBuffer& configRing);

    bool StopRequested() const { return stop_.load(); }
    // Lets the starting thread go on: true once the sockets are up, false when they cannot be.
    void ReportStartup(bool ok) { startup_.Report(ok); }

    CircularKestBuffer& dataRing_;
    CircularKestBuffer& configRing_;
    IOClient configEndpoint_;
    OutputClient dataSender_;
    std::thread thread_;
    std::atomic<bool> stop_{false};

  private:
    StartupGate startup_;
    std::string address_;
    std::atomic<unsigned short> localPort_{0};
    std::atomic<int> receiveBufferSize_{0};
    std::atomic<int> sendBufferSize_{0};
};

} // namespace Network
