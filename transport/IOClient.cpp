#include "transport/IOClient.h"

#include "transport/DatagramFrame.h"
#include "transport/Logger.h"
#include "transport/SocketAddress.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace Network {

IOClient::IOClient(net::sock_t socket, CircularKestBuffer& ring, std::uint64_t chunkLimit,
                   std::uint64_t receiveCapacity, const sockaddr_in& peer, std::uint32_t flags)
    : OutputClient(socket, ring, chunkLimit, peer, flags),
      receive_(new std::uint8_t[receiveCapacity]), receiveCapacity_(receiveCapacity),
      scratchCapacity_(IsDatagram() ? std::max(receiveCapacity, kLargestDatagram)
                                    : receiveCapacity) {
    scratch_.reset(new std::uint8_t[scratchCapacity_]);
}

IOClient::~IOClient() = default;

std::uint64_t IOClient::Fill() const {
    std::lock_guard<std::mutex> lock(receiveMutex_);
    return fill_;
}

long IOClient::RecvFromNetwork(std::size_t minimumFree) {
    std::uint64_t freeRoom;
    {
        std::lock_guard<std::mutex> lock(receiveMutex_);
        if (start_ > 0 && !handedOut_) {
            // No packet is being read: the bytes held can move down to make room.
            std::memmove(receive_.get(), receive_.get() + start_, fill_);
            start_ = 0;
        }
        freeRoom = receiveCapacity_ - start_ - fill_;
    }
    if (minimumFree >= freeRoom) {
        return 0;
    }
    if (socket_ < 0) {
        return -1;
    }
    if (IsDatagram()) {
        return ReceiveDatagram(freeRoom);
    }
    const long got = recv(socket_, scratch_.get(), freeRoom, 0);
    if (got > 0) {
        // Taking packets out only ever moves bytes down, so the room seen above is still
        // there.
        std::lock_guard<std::mutex> lock(receiveMutex_);
        std::memcpy(receive_.get() + start_ + fill_, scratch_.get(), static_cast<std::size_t>(got));
        fill_ += static_cast<std::uint64_t>(got);
        return static_cast<long>(fill_);
    }
    if (got == 0) {
        Close();
        return 0;
    }
    return ReceiveFailed();
}

long IOClient::ReceiveDatagram(std::uint64_t freeRoom) {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    // MSG_TRUNC: the length returned is the datagram's own, even when it did not fit.
    const long got = recvfrom(socket_, scratch_.get(), scratchCapacity_, MSG_TRUNC,
                              reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got < 0) {
        return ReceiveFailed();
    }
    if (from.sin_family == AF_INET) {
        lastSource_ = from.sin_addr.s_addr;
    }
    std::uint64_t dropped = 0;
    std::uint64_t kept = 0;
    if (std::uint64_t(got) > scratchCapacity_) {
        dropped = 1;
    } else {
        kept = FrameDatagram(scratch_.get(), std::uint64_t(got), freeRoom, &dropped);
    }
    if (dropped != 0) {
        droppedPackets_.fetch_add(dropped, std::memory_order_relaxed);
    }
    std::lock_guard<std::mutex> lock(receiveMutex_);
    if (kept != 0) {
        // Taking packets out only ever moves bytes down, so the room seen before is still
        // there.
        std::memcpy(receive_.get() + start_ + fill_, scratch_.get(),
                    static_cast<std::size_t>(kept));
        fill_ += kept;
    }
    return static_cast<long>(fill_);
}

long IOClient::ReceiveFailed() {
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
        return static_cast<long>(Fill());
    }
    Close();
    return -1;
}

bool IOClient::HoldsWholePacket() const {
    std::lock_guard<std::mutex> lock(receiveMutex_);
    return HoldsWholePacketLocked();
}

bool IOClient::HoldsWholePacketLocked() const {
    if (fill_ < kKestHeaderSize) {
        return false;
    }
    const std::uint64_t length = std::uint64_t(receive_[start_]) * 4;
    return length != 0 && length <= fill_;
}

KestPacket* IOClient::HasPacket() {
    std::uint64_t discarded = 0;
    {
        std::lock_guard<std::mutex> lock(receiveMutex_);
        if (fill_ < kKestHeaderSize) {
            return nullptr;
        }
        std::uint8_t* head = receive_.get() + start_;
        if (head[0] != 0) {
            if (std::uint64_t(head[0]) * 4 > fill_) {
                return nullptr;
            }
            handedOut_ = true;
            return reinterpret_cast<KestPacket*>(head);
        }
        discarded = fill_;
        start_ = 0;
        fill_ = 0;
    }
    char address[16];
    Logger<true>::Printf(LogSubsystem::NET, kLogError,
                         "discarding %llu received bytes from (%s:%d): packet of size 0\n",
                         static_cast<unsigned long long>(discarded),
                         AddressText(peer_, address, sizeof address), AddressPort(peer_));
    return nullptr;
}

std::uint64_t IOClient::HeldPackets(const std::uint8_t** bytes) {
    {
        std::lock_guard<std::mutex> lock(receiveMutex_);
        const std::uint8_t* head = receive_.get() + start_;
        if (fill_ < kKestHeaderSize) {
            return 0;
        }
        if (head[0] != 0) {
            std::uint64_t length = 0;
            while (fill_ - length >= kKestHeaderSize) {
                const std::uint64_t size = std::uint64_t(head[length]) * 4;
                if (size == 0 || size > fill_ - length) {
                    break;
                }
                length += size;
            }
            handedOut_ = length != 0;
            *bytes = head;
            return length;
        }
    }
    HasPacket(); // discards and logs
    return 0;
}

void IOClient::DropFrontLocked(std::uint64_t length) {
    start_ += length;
    fill_ -= length;
    handedOut_ = false;
    if (fill_ == 0) {
        start_ = 0;
    } else if (!HoldsWholePacketLocked()) {
        // Only the beginning of a packet is left: move it down so that the rest has room.
        std::memmove(receive_.get(), receive_.get() + start_, fill_);
        start_ = 0;
    }
}

bool IOClient::ReleasePackets(std::uint64_t length) {
    std::lock_guard<std::mutex> lock(receiveMutex_);
    if (length > fill_) {
        return false;
    }
    DropFrontLocked(length);
    return true;
}

bool IOClient::DeletePacket(const KestPacket* packet) {
    std::lock_guard<std::mutex> lock(receiveMutex_);
    if (packet == nullptr || !HoldsWholePacketLocked() ||
        packet->Bytes() != receive_.get() + start_) {
        return false;
    }
    const std::uint64_t length = std::uint64_t(receive_[start_]) * 4;
    DropFrontLocked(length);
    return true;
}

} // namespace Network
