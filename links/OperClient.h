// OperClient: the connection to one operator application. Packets for the operator are
// written into the operator's own ring and sent at once by the thread that writes them;
// the link thread receives the operator's packets and hands them to the cache.
//
// Sending (the command thread) and receiving (the link thread) share the socket; a mutex
// keeps them apart, and the link thread skips a pass rather than wait for a send.
#pragma once

#include "protocol/KestPacket.h"
#include "transport/IOClient.h"

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace Network {

// Endpoint limits of an operator connection.
constexpr std::uint64_t kOperChunkLimit = 1024;
constexpr std::uint64_t kOperReceiveCapacity = 1024;

class OperClient : public IOClient {
  public:
    // Takes ownership of the connected `socket`; sends from `ring` starting at its
    // published head.
    OperClient(net::sock_t socket, CircularKestBuffer& ring, const sockaddr_in& peer);
    ~OperClient() override;

    // One receive when the socket is readable now (no wait); false when it was not, when a
    // send holds the socket, or when the connection has failed.
    bool Recv();
    // A zeroed area of `size` bytes in the operator's ring, or null; the ring's write mutex
    // must be held (see RingWriter) until Send.
    std::uint8_t* AllocSize(std::size_t size);
    // Publishes what was reserved and sends everything published. False when the
    // connection failed.
    bool Send();
    // Copies one complete packet (4 x its size byte) into the ring and sends it.
    bool SendPacket(const KestPacket& packet);
    // Requests of the operator's recording trial and signal selection descriptors.
    bool RequestTrialDesc();
    bool RequestSignalSelectionDesc();

    bool Connected() const;

  private:
    bool SendRequest(std::uint16_t index);
    bool SendPublished();

    mutable std::mutex socketMutex_;
};

} // namespace Network
