// IOClient: an endpoint that also receives. Incoming bytes are gathered in the receive
// buffer and taken out as whole KEST packets, oldest first, by their size byte: a datagram
// may carry several packets and a stream read may end in the middle of one, whose bytes
// wait for the rest.
//
// One thread receives (RecvFromNetwork) and one thread takes packets out (HasPacket,
// DeletePacket); they may be different threads. A packet that HasPacket gives stays where it
// is until that packet is deleted.
#pragma once

#include "protocol/KestPacket.h"
#include "transport/NetworkExport.h"
#include "transport/OutputClient.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace Network {

class KEST_NETWORK_API IOClient : public OutputClient {
  public:
    IOClient(net::sock_t socket, CircularKestBuffer& ring, std::uint64_t chunkLimit,
             std::uint64_t receiveCapacity, const sockaddr_in& peer, std::uint32_t flags);
    ~IOClient() override;

    // One receive call, made only while more than `minimumFree` bytes are free. Returns the
    // number of bytes held afterwards; 0 when nothing was read for lack of room or because
    // the peer of a stream closed (the socket is then closed); -1 on an error (the socket is
    // closed).
    long RecvFromNetwork(std::size_t minimumFree);
    // The oldest whole packet held, or null. A packet whose size byte is 0 can never be cut
    // out; it is discarded with every byte held behind it, and the discard is logged.
    KestPacket* HasPacket();
    // Removes `packet` if it is the oldest one held; false (and no change) for any other
    // pointer.
    bool DeletePacket(const KestPacket* packet);

    // Whether a whole packet is held, without taking anything out.
    bool HoldsWholePacket() const;
    std::uint64_t Fill() const;
    std::uint64_t ReceiveCapacity() const { return receiveCapacity_; }
    // The sender's IPv4 address (network order) of the latest datagram received; 0 before
    // the first and on a stream. Read by the receiving thread.
    std::uint32_t LastSource() const { return lastSource_; }

  private:
    // Whether the bytes held begin with a whole packet; under the receive mutex.
    bool HoldsWholePacketLocked() const;

    std::unique_ptr<std::uint8_t[]> receive_;
    std::uint64_t receiveCapacity_;
    // Bytes held start at start_: taking a packet out advances the start instead of moving
    // the rest down. The bytes move down once no whole packet is left, or before a receive
    // while no packet is handed out (between HasPacket and DeletePacket).
    std::uint64_t start_ = 0;
    std::uint64_t fill_ = 0;
    bool handedOut_ = false;
    std::unique_ptr<std::uint8_t[]> scratch_;
    std::uint32_t lastSource_ = 0;
    mutable std::mutex receiveMutex_;
};

} // namespace Network
