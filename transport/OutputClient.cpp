#include "transport/OutputClient.h"

#include "transport/Logger.h"
#include "transport/SocketAddress.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace Network {

namespace {

bool WouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

} // namespace

OutputClient::OutputClient(net::sock_t socket, CircularKestBuffer& ring, std::uint64_t chunkLimit,
                           const sockaddr_in& peer, std::uint32_t flags)
    : m_socket(socket), m_ring(&ring), m_chunkLimit(chunkLimit),
      m_readPosition(ring.PublishedHead()), m_pending(new std::uint8_t[chunkLimit]), m_peer(peer),
      m_flags(flags) {}

OutputClient::~OutputClient() {
    net::CloseSocket(m_socket);
}

void OutputClient::Attach(net::sock_t socket, const sockaddr_in& peer) {
    net::CloseSocket(m_socket);
    m_socket = socket;
    m_peer = peer;
    m_pendingLength = 0;
}

void OutputClient::Close() {
    net::CloseSocket(m_socket);
}

long OutputClient::Send(long* total) {
    long sum = 0;
    for (int pass = 0; pass < kSendPasses; ++pass) {
        long sent = 0;
        bool ok = m_pendingLength != 0 ? SendRest(&sent) : SendOne(&sent);
        if (!ok) {
            sum = -1;
            break;
        }
        sum += sent;
        if (sent == 0) {
            break;
        }
    }
    if (total != nullptr) {
        *total = sum;
    }
    return sum;
}

long OutputClient::Transmit(const std::uint8_t* bytes, std::uint64_t length) {
    if (IsDatagram()) {
        return sendto(m_socket, bytes, length, MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&m_peer), sizeof m_peer);
    }
    // MSG_NOSIGNAL: a peer that went away must end this endpoint, not the process.
    return send(m_socket, bytes, length, MSG_NOSIGNAL);
}

bool OutputClient::SendOne(long* sent) {
    *sent = 0;
    if (m_socket < 0) {
        return false;
    }
    const std::uint64_t capacity = m_ring->Capacity();
    const std::uint64_t published = m_ring->PublishedHead();
    CheckSpace(published, m_readPosition % capacity);
    if (m_socket < 0) {
        return false;
    }
    std::uint64_t position = m_readPosition % capacity;
    std::uint64_t size = GetTargetWriteSize(published, position);
    if (size == 0 && m_readPosition % capacity != position) {
        // The read position just passed the skipped tail of a lap; go on from the start.
        position = m_readPosition % capacity;
        size = GetTargetWriteSize(published, position);
    }
    if (size == 0) {
        return true;
    }
    const std::uint64_t boundary = GetPacketBoundary(position, size);
    if (boundary == 0) {
        // Not even one packet can be cut here: a size byte of 0, or a packet running past the
        // published bytes or the lap. Nothing behind it can be trusted.
        DropBacklog(published, "undecodable packet");
        return true;
    }
    const long result = Transmit(m_ring->Data() + position, boundary);
    if (result > 0) {
        const auto done = static_cast<std::uint64_t>(result);
        m_readPosition += done;
        if (done < boundary) {
            m_pendingLength = boundary - done;
            std::memcpy(m_pending.get(), m_ring->Data() + position + done, m_pendingLength);
        }
        *sent = result;
        return true;
    }
    return AfterFailedSend(result, sent, "SendOne");
}

bool OutputClient::AfterFailedSend(long result, long* sent, const char* caller) {
    if (result == 0) {
        if (IsDatagram()) {
            return true;
        }
        Close();
        return false;
    }
    const int error = errno;
    if (WouldBlock(error)) {
        *sent = -1;
        return true;
    }
    char address[16];
    Logger<true>::Printf(LogSubsystem::NET, kLogError, "%s::sendto (%s:%d): %s\n", caller,
                         AddressText(m_peer, address, sizeof address), AddressPort(m_peer),
                         std::strerror(error));
    Close();
    return false;
}

bool OutputClient::SendRest(long* sent) {
    *sent = 0;
    if (m_socket < 0) {
        return false;
    }
    const long result = Transmit(m_pending.get(), m_pendingLength);
    if (result > 0) {
        const auto done = static_cast<std::uint64_t>(result);
        m_readPosition += done;
        m_pendingLength -= done;
        std::memmove(m_pending.get(), m_pending.get() + done, m_pendingLength);
        *sent = result;
        return true;
    }
    return AfterFailedSend(result, sent, "SendRest");
}

void OutputClient::CheckSpace(std::uint64_t published, std::uint64_t /*position*/) {
    const std::uint64_t capacity = m_ring->Capacity();
    if (published - m_readPosition >= capacity) {
        // Lapped: the bytes at the read position have been written over.
        ++m_overtaken;
        if (m_overtaken <= kMaxOvertaken) {
            m_readPosition = published;
            return;
        }
        char address[16];
        Logger<true>::Printf(LogSubsystem::NET, kLogError,
                             "network panic! disconnecting client (%s:%d) too slow.\n",
                             AddressText(m_peer, address, sizeof address), AddressPort(m_peer));
        Close();
        return;
    }
    // Room the writer has before it reaches this reader's unsent bytes. Taken on the unbounded
    // scale, so that a writer that has reserved past the reader but not yet published shows as
    // no room rather than a full ring.
    const std::uint64_t panicRoom = std::min(kPanicRoom, capacity / 16);
    const std::uint64_t limit = m_readPosition + capacity;
    const std::uint64_t writeHead = m_ring->WriteHead();
    if (writeHead >= limit || limit - writeHead <= panicRoom) {
        Logger<true>::Printf(LogSubsystem::NET, kLogError, "panic abort!!!!\n");
        m_readPosition = published;
    }
}

std::uint64_t OutputClient::GetTargetWriteSize(std::uint64_t published, std::uint64_t position) {
    const std::uint64_t capacity = m_ring->Capacity();
    std::uint64_t limit = m_chunkLimit;
    // The lap end bounds only a reader still in an earlier lap than the published bytes; in
    // the writer's own lap the valid bytes run up to the published head.
    if (m_readPosition / capacity < published / capacity) {
        const std::uint64_t lapEnd = m_ring->LapEnd();
        if (position >= lapEnd) {
            m_readPosition += capacity - position;
            return 0;
        }
        limit = std::min(limit, lapEnd - position);
    }
    if (published <= m_readPosition) {
        return 0;
    }
    return std::min(limit, published - m_readPosition);
}

std::uint64_t OutputClient::GetPacketBoundary(std::uint64_t position, std::uint64_t size) const {
    const std::uint8_t* bytes = m_ring->Data() + position;
    std::uint64_t boundary = 0;
    while (boundary < size) {
        const std::uint64_t length = std::uint64_t(bytes[boundary]) * 4;
        if (length == 0 || boundary + length > size) {
            break;
        }
        boundary += length;
    }
    return boundary;
}

void OutputClient::DropBacklog(std::uint64_t published, const char* reason) {
    char address[16];
    Logger<true>::Printf(
        LogSubsystem::NET, kLogError, "dropping %llu unsent bytes of %s for (%s:%d): %s\n",
        static_cast<unsigned long long>(published - m_readPosition), m_ring->Name(),
        AddressText(m_peer, address, sizeof address), AddressPort(m_peer), reason);
    m_readPosition = published;
}

} // namespace Network
