// DatagramBatch: takes up to kSlots waiting datagrams off a socket with one system call
// (recvmmsg), each whole in a slot of its own that holds the largest UDP payload, and frames
// each where it landed: no datagram is copied again. A datagram stands alone (see
// FrameDatagram): only the run of whole packets at its front is kept, and every packet that
// is not, or a datagram that did not fit its slot, is counted as dropped.
//
// One thread receives and reads the datagrams; DroppedPackets may be read by any thread.
// The packets of a receive stay where they are until the next receive.
#pragma once

#include "transport/NetworkExport.h"
#include "transport/Socket.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>

namespace Network {

class KEST_NETWORK_API DatagramBatch {
  public:
    static constexpr unsigned kSlots = 32;
    // Room of one slot: more than the largest UDP payload, so that a cut is always seen.
    static constexpr std::uint64_t kSlotBytes = 65536;

    // The whole packets at the front of one datagram and its sender's IPv4 address (network
    // order; 0 for a sender of another family).
    struct Datagram {
        const std::uint8_t* packets;
        std::uint64_t length;
        std::uint32_t source;
    };

    DatagramBatch();
    DatagramBatch(const DatagramBatch&) = delete;
    DatagramBatch& operator=(const DatagramBatch&) = delete;

    // One receive that does not wait. Returns the number of datagrams taken (0 when none
    // waited), or -1 on an error other than a lack of data (errno tells which).
    int Receive(net::sock_t socket);
    unsigned Count() const { return count_; }
    const Datagram& At(unsigned index) const { return datagrams_[index]; }
    // Whether the latest receive filled every slot: more is likely waiting.
    bool Full() const { return count_ == kSlots; }
    std::uint64_t DroppedPackets() const { return dropped_.load(std::memory_order_relaxed); }

  private:
    std::unique_ptr<std::uint8_t[]> slots_;
    mmsghdr headers_[kSlots];
    iovec vectors_[kSlots];
    sockaddr_in sources_[kSlots];
    Datagram datagrams_[kSlots];
    unsigned count_ = 0;
    std::atomic<std::uint64_t> dropped_{0};
};

} // namespace Network
