// OutputClient: sends the published bytes of one ring to one peer.
//
// Each send hands the socket a run of whole packets, at most the chunk limit long, so a
// datagram never carries a piece of a packet. On a stream socket the unsent rest of a
// partly sent run is kept in the pending bytes and goes out first on the next pass. A reader
// that the ring's writer laps skips to the newest published bytes; the fifth time, the peer
// is disconnected as too slow.
//
// One thread uses an endpoint; the owner closes the socket when it destroys the endpoint.
#pragma once

#include "transport/CircularKestBuffer.h"
#include "transport/NetworkExport.h"
#include "transport/Socket.h"

#include <cstdint>
#include <memory>
#include <netinet/in.h>

namespace Network {

class KEST_NETWORK_API OutputClient {
  public:
    // Flag bit 0: a datagram socket, where a send or receive of zero bytes is not a
    // disconnect.
    static constexpr std::uint32_t kDatagram = 1;
    // Times a reader may be lapped and skip ahead before it is disconnected on the next.
    static constexpr std::int32_t kMaxOvertaken = 4;
    // A reader with no more than this much room before the writer overruns it drops its
    // backlog (rings of less than 16 MiB use a sixteenth of their capacity instead).
    static constexpr std::uint64_t kPanicRoom = 0xFFFFF;
    // Most passes of one Send call.
    static constexpr int kSendPasses = 20;

    // Takes ownership of `socket` (may be -1). The read position starts at the ring's
    // published head, so only packets published from now on are sent.
    OutputClient(net::sock_t socket, CircularKestBuffer& ring, std::uint64_t chunkLimit,
                 const sockaddr_in& peer, std::uint32_t flags);
    virtual ~OutputClient();
    OutputClient(const OutputClient&) = delete;
    OutputClient& operator=(const OutputClient&) = delete;

    // Sends what is published, in up to 20 passes (see the file comment). Returns the bytes
    // handed to the socket (a would-block pass counts -1), or -1 when a send failed and the
    // socket was closed; the result is also stored through `total` when not null.
    long Send(long* total = nullptr);
    // One send of new bytes. False when the socket failed (and is now closed).
    bool SendOne(long* sent);
    // One send of the pending rest of a partly sent run.
    bool SendRest(long* sent);

    // Steps of SendOne, public for the links that drive them: detects a lapped or nearly
    // overrun reader; the number of bytes to send next from ring offset `position`; and the
    // length of the longest run of whole packets from `position` within `size` bytes.
    void CheckSpace(std::uint64_t published, std::uint64_t position);
    std::uint64_t GetTargetWriteSize(std::uint64_t published, std::uint64_t position);
    std::uint64_t GetPacketBoundary(std::uint64_t position, std::uint64_t size) const;

    // Gives the endpoint a (new) socket and peer, closing the one it had.
    void Attach(net::sock_t socket, const sockaddr_in& peer);
    // Closes the socket; the endpoint is dead from now on.
    void Close();
    // Moves the read position, e.g. to 0 after the ring was reset.
    void SetReadPosition(std::uint64_t position) { readPosition_ = position; }

    net::sock_t Socket() const { return socket_; }
    bool IsDatagram() const { return (flags_ & kDatagram) != 0; }
    const sockaddr_in& Peer() const { return peer_; }
    CircularKestBuffer& Ring() const { return *ring_; }
    std::uint64_t ChunkLimit() const { return chunkLimit_; }
    std::uint64_t ReadPosition() const { return readPosition_; }
    std::int32_t OvertakenCount() const { return overtaken_; }
    std::uint64_t PendingLength() const { return pendingLength_; }

  protected:
    // One send call; negative with errno set on failure.
    long Transmit(const std::uint8_t* bytes, std::uint64_t length);
    // After a send of nothing (result 0) or a failed send (result -1, errno set): true when
    // the endpoint lives on (a datagram socket, or a send that would block, with *sent -1),
    // false after logging the error under `caller` and closing the socket.
    bool AfterFailedSend(long result, long* sent, const char* caller);
    // Drops everything unsent up to `published` (with a line under NET saying why).
    void DropBacklog(std::uint64_t published, const char* reason);

    net::sock_t socket_;
    CircularKestBuffer* ring_;
    std::uint64_t chunkLimit_;
    std::uint64_t readPosition_;
    std::int32_t overtaken_ = 0;
    std::unique_ptr<std::uint8_t[]> pending_;
    std::uint64_t pendingLength_ = 0;
    sockaddr_in peer_;
    std::uint32_t flags_;
};

} // namespace Network
