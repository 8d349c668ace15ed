// UDPOperNetwork: the datagram link to the processor. A receive socket bound to the local
// port on every local address takes the processor's datagrams; a separate send socket sends
// what the configuration sender publishes in "configBuffer" to the processor address (the
// wired network's broadcast address unless one is given), in datagrams of whole packets of
// at most 1440 bytes. One thread of its own sends, receives and feeds the cache.
//
// The thread takes the waiting datagrams in batches (see DatagramBatch): each datagram is
// read whole and framed on its own where it landed, and the packets of a whole batch go to
// the cache under one hold of its lock. The receive socket asks for a buffer that holds
// several seconds of a full processor's data, so that a reader holding the cache up for a
// while costs nothing; when the system grants less, that is reported once per process.
//
// With nothing to do the thread sleeps until a packet is published for sending (the ring
// signals an eventfd) or a datagram arrives. While the processor streams and no answer is
// awaited, it lets datagrams gather for 200 us between receives instead of waking for each;
// for 5 ms after a send it wakes for every datagram, so that an echo is taken in at once.
//
// Configuration packets (answers, echoes, error messages) share the receive socket with the
// data streams. A link that falls behind (a busy machine) would let the kernel drop whole
// datagrams once the socket's buffer is full, configuration packets among them; so when
// more than half the buffer is queued, the link reads on but hands only configuration
// packets to the cache until less than an eighth is left. Only a batch that fills every slot
// can leave much queued, so only then does the link ask how much is. The data packets passed
// over leave gaps in their streams, which readers see as for any lost datagram.
//
// The port takes datagrams from any host. Packets that claim to come from the processor
// reach the cache only from the processor's address (the one given, or host 1 of the wired or
// the wireless network), operators' packets from any host of those networks; every other
// packet is dropped and counted, so that no other host can forge samples, a configuration or
// messages of the processor, nor a host off the networks an operator.
#pragma once

#include "links/LinkIntake.h"
#include "links/NetConfig.h"
#include "transport/DatagramBatch.h"
#include "transport/Socket.h"
#include "transport/server/UDPNetwork.h"

#include <atomic>
#include <cstdint>
#include <string>

class KestCache;

namespace Network {

// Receive buffer the link asks for: three seconds of 16 front ends of 32 channels at 30 kHz,
// one 76-byte packet per sample.
constexpr int kLinkReceiveBufferWanted = 3 * 16 * 30000 * 76;

// The report of a receive buffer smaller than asked for; empty when `granted` is enough.
std::string ReceiveBufferShortfall(int wanted, int granted);

class UDPOperNetwork : public UDPNetwork {
  public:
    // Feeds `cache` (not owned); sends to `address`, or to the broadcast address of the
    // wired network when it is null or empty.
    UDPOperNetwork(KestCache* cache, const char* address, const NetConfig& config);
    // Stops the thread before the receiving endpoint goes away.
    ~UDPOperNetwork() override;

    // The thread hands every packet to the cache itself: there is never one to take here.
    KestPacket* RecvConfigPacket() override;
    bool DeleteConfigPacket(const KestPacket* packet) override;
    bool Initialize(unsigned short localPort, unsigned short remotePort, const char* address,
                    bool broadcast) override;
    void ServerMain(unsigned short localPort, unsigned short remotePort, const char* address,
                    bool broadcast) override;

    // Launches the thread and returns once its sockets are up (true) or have failed.
    bool StartUp();
    const std::string& Address() const { return address_; }
    net::sock_t ReceiveSocket() const { return receiveSocket_.Get(); }
    // Data packets passed over while the link was behind.
    std::uint64_t SkippedDataPackets() const {
        return skippedData_.load(std::memory_order_relaxed);
    }
    // Received packets dropped because their datagram did not hold them whole.
    std::uint64_t DroppedPackets() const { return batch_.DroppedPackets(); }
    // Packets dropped for the address they came from.
    std::uint64_t ForeignPackets() const { return foreign_.load(std::memory_order_relaxed); }

  private:
    // Whether the link is behind now, given whether it was on the previous pass; one look
    // at the socket's queue.
    bool FallenBehind(bool behind) const;
    // Raises the receive socket's buffer and reports a shortfall once per process.
    void SizeReceiveBuffer();

    KestCache* cache_;
    NetConfig config_;
    std::string address_;
    net::UniqueSocket receiveSocket_;
    DatagramBatch batch_;
    std::atomic<std::uint64_t> skippedData_{0};
    SenderRule senders_;
    std::atomic<std::uint64_t> foreign_{0};
};

} // namespace Network
