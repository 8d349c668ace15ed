#include "transport/IOClient.h"

#include "transport/Logger.h"
#include "transport/SocketAddress.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace Network {

IOClient::IOClient(net::sock_t socket, CircularKestBuffer& ring, std::uint64_t chunkLimit,
                   std::uint64_t receiveCapacity, const sockaddr_in& peer, std::uint32_t flags)
    : OutputClient(socket, ring, chunkLimit, peer, flags),
      receive_(new std::uint8_t[receiveCapacity]), receiveCapacity_(receiveCapacity),
      scratch_(new std::uint8_t[receiveCapacity]) {}

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
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const long got = IsDatagram() ? recvfrom(socket_, scratch_.get(), freeRoom, 0,
                                             reinterpret_cast<sockaddr*>(&from), &fromLength)
                                  : recv(socket_, scratch_.get(), freeRoom, 0);
    if (got > 0) {
        if (IsDatagram() && from.sin_family == AF_INET) {
            lastSource_ = from.sin_addr.s_addr;
        }
        // Taking packets out only ever moves bytes down, so the room seen above is still
        // there.
        std::lock_guard<std::mutex> lock(receiveMutex_);
        std::memcpy(receive_.get() + start_ + fill_, scratch_.get(), static_cast<std::size_t>(got));
        fill_ += static_cast<std::uint64_t>(got);
        return static_cast<long>(fill_);
    }
    if (got == 0) {
        if (IsDatagram()) {
            return static_cast<long>(Fill());
        }
        Close();
        return 0;
    }
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

bool IOClient::DeletePacket(const KestPacket* packet) {
    std::lock_guard<std::mutex> lock(receiveMutex_);
    if (packet == nullptr || !HoldsWholePacketLocked() ||
        packet->Bytes() != receive_.get() + start_) {
        return false;
    }
    const std::uint64_t length = std::uint64_t(receive_[start_]) * 4;
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
    return true;
}

} // namespace Network
