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
      m_receive(new std::uint8_t[receiveCapacity]), m_receiveCapacity(receiveCapacity),
      m_scratch(new std::uint8_t[receiveCapacity]) {}

IOClient::~IOClient() = default;

std::uint64_t IOClient::Fill() const {
    std::lock_guard<std::mutex> lock(m_receiveMutex);
    return m_fill;
}

long IOClient::RecvFromNetwork(std::size_t minimumFree) {
    std::uint64_t freeRoom;
    {
        std::lock_guard<std::mutex> lock(m_receiveMutex);
        if (m_start > 0 && !m_handedOut) {
            // No packet is being read: the bytes held can move down to make room.
            std::memmove(m_receive.get(), m_receive.get() + m_start, m_fill);
            m_start = 0;
        }
        freeRoom = m_receiveCapacity - m_start - m_fill;
    }
    if (minimumFree >= freeRoom) {
        return 0;
    }
    if (m_socket < 0) {
        return -1;
    }
    const long got = recv(m_socket, m_scratch.get(), freeRoom, 0);
    if (got > 0) {
        // Taking packets out only ever moves bytes down, so the room seen above is still
        // there.
        std::lock_guard<std::mutex> lock(m_receiveMutex);
        std::memcpy(m_receive.get() + m_start + m_fill, m_scratch.get(),
                    static_cast<std::size_t>(got));
        m_fill += static_cast<std::uint64_t>(got);
        return static_cast<long>(m_fill);
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
    std::lock_guard<std::mutex> lock(m_receiveMutex);
    return HoldsWholePacketLocked();
}

bool IOClient::HoldsWholePacketLocked() const {
    if (m_fill < kKestHeaderSize) {
        return false;
    }
    const std::uint64_t length = std::uint64_t(m_receive[m_start]) * 4;
    return length != 0 && length <= m_fill;
}

KestPacket* IOClient::HasPacket() {
    std::uint64_t discarded = 0;
    {
        std::lock_guard<std::mutex> lock(m_receiveMutex);
        if (m_fill < kKestHeaderSize) {
            return nullptr;
        }
        std::uint8_t* head = m_receive.get() + m_start;
        if (head[0] != 0) {
            if (std::uint64_t(head[0]) * 4 > m_fill) {
                return nullptr;
            }
            m_handedOut = true;
            return reinterpret_cast<KestPacket*>(head);
        }
        discarded = m_fill;
        m_start = 0;
        m_fill = 0;
    }
    char address[16];
    Logger<true>::Printf(LogSubsystem::NET, kLogError,
                         "discarding %llu received bytes from (%s:%d): packet of size 0\n",
                         static_cast<unsigned long long>(discarded),
                         AddressText(m_peer, address, sizeof address), AddressPort(m_peer));
    return nullptr;
}

bool IOClient::DeletePacket(const KestPacket* packet) {
    std::lock_guard<std::mutex> lock(m_receiveMutex);
    if (packet == nullptr || !HoldsWholePacketLocked() ||
        packet->Bytes() != m_receive.get() + m_start) {
        return false;
    }
    const std::uint64_t length = std::uint64_t(m_receive[m_start]) * 4;
    m_start += length;
    m_fill -= length;
    m_handedOut = false;
    if (m_fill == 0) {
        m_start = 0;
    } else if (!HoldsWholePacketLocked()) {
        // Only the beginning of a packet is left: move it down so that the rest has room.
        std::memmove(m_receive.get(), m_receive.get() + m_start, m_fill);
        m_start = 0;
    }
    return true;
}

} // namespace Network
