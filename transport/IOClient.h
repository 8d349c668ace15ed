// IOClient: an endpoint that also receives. Incoming bytes are gathered in the receive
// buffer and taken out as whole KEST packets, oldest first, by their size byte. A stream
// read may end in the middle of a packet, whose bytes wait for the rest. A datagram stands
// alone: it is received whole and only the whole packets at its front are kept; a packet
// cut short at its end (with anything after it) or without room is dropped and counted,
// never completed from the next datagram.
//
// One thread receives (RecvFromNetwork) and one thread takes packets out (HasPacket,
// DeletePacket); they may be different threads. A packet that HasPacket gives stays where it
// is until that packet is deleted.
#pragma once

#include "protocol/KestPacket.h"
#include "transport/NetworkExport.h"
#include "transport/OutputClient.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace Network {

// The largest UDP payload over IPv4.
constexpr std::uint64_t kLargestDatagram = 65507;

class KEST_NETWORK_API IOClient : public OutputClient {
  public:
    IOClient(net::sock_t socket, CircularKestBuffer& ring, std::uint64_t chunkLimit,
             std::uint64_t receiveCapacity, const sockaddr_in& peer, std::uint32_t flags);
    ~IOClient() override;

    // One receive call, made only while more than `minimumFree` bytes are free. Returns the
    // number of bytes held afterwards; 0 when nothing was read for lack of room or because
    // the peer of a stream closed (the socket is then closed); -1 on an error (the socket is
    // closed). On a datagram endpoint the call takes one whole datagram.
    long RecvFromNetwork(std::size_t minimumFree);
    // The oldest whole packet held, or null. A packet whose size byte is 0 can never be cut
    // out; it is discarded with every byte held behind it, and the discard is logged.
    KestPacket* HasPacket();
    // Removes `packet` if it is the oldest one held; false (and no change) for any other
    // pointer.
    bool DeletePacket(const KestPacket* packet);

    // The run of whole packets at the front of what is held, for a reader that takes them
    // all at once: *bytes points at the first; returns the run's length (0 when no whole
    // packet is held). A packet of size 0 at the front is discarded as HasPacket does. The
    // run stays where it is until ReleasePackets.
    std::uint64_t HeldPackets(const std::uint8_t** bytes);
    // Removes the first `length` bytes of a run that HeldPackets gave; false (and no change)
    // when more than is held.
    bool ReleasePackets(std::uint64_t length);

    // Whether a whole packet is held, without taking anything out.
    bool HoldsWholePacket() const;
    std::uint64_t Fill() const;
    std::uint64_t ReceiveCapacity() const { return receiveCapacity_; }
    // The sender's IPv4 address (network order) of the latest datagram received; 0 before
    // the first and on a stream. Read by the receiving thread.
    std::uint32_t LastSource() const { return lastSource_; }
    // Packets of received datagrams that were not kept: cut short at the end of their
    // datagram or shorter than a header (each with the rest of its datagram), beyond the
    // room left, or in a datagram larger than the largest UDP payload. Read by any thread.
    std::uint64_t DroppedPackets() const { return droppedPackets_.load(std::memory_order_relaxed); }

  private:
    // Whether the bytes held begin with a whole packet; under the receive mutex.
    bool HoldsWholePacketLocked() const;
    // Drops `length` bytes (no more than held) from the front of what is held.
    void DropFrontLocked(std::uint64_t length);
    // The datagram part of RecvFromNetwork: one datagram framed on its own into `freeRoom`.
    long ReceiveDatagram(std::uint64_t freeRoom);
    // Closes on an error other than a lack of data; the value RecvFromNetwork returns.
    long ReceiveFailed();

    std::unique_ptr<std::uint8_t[]> receive_;
    std::uint64_t receiveCapacity_;
    // Bytes held start at start_: taking a packet out advances the start instead of moving
    // the rest down. The bytes move down once no whole packet is left, or before a receive
    // while no packet is handed out (between HasPacket and DeletePacket).
    std::uint64_t start_ = 0;
    std::uint64_t fill_ = 0;
    bool handedOut_ = false;
    std::unique_ptr<std::uint8_t[]> scratch_;
    // Room for a whole datagram on a datagram endpoint, else the receive capacity.
    std::uint64_t scratchCapacity_;
    std::uint32_t lastSource_ = 0;
    std::atomic<std::uint64_t> droppedPackets_{0};
    mutable std::mutex receiveMutex_;
};

} // namespace Network
