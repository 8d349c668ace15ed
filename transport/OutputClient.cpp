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
    : socket_(socket), ring_(&ring), chunkLimit_(chunkLimit), readPosition_(ring.PublishedHead()),
      pending_(new std::uint8_t[chunkLimit]), peer_(peer), flags_(flags) {}

OutputClient::~OutputClient() {
    net::CloseSocket(socket_);
}

void OutputClient::Attach(net::sock_t socket, const sockaddr_in& peer) {
    net::CloseSocket(socket_);
    socket_ = socket;
    peer_ = peer;
    pendingLength_ = 0;
}

void OutputClient::Close() {
    net::CloseSocket(socket_);
}

long OutputClient::Send(long* total) {
    long sum = 0;
    for (int pass = 0; pass < kSendPasses; ++pass) {
        long sent = 0;
        bool ok = pendingLength_ != 0 ? SendRest(&sent) : SendOne(&sent);
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
        return sendto(socket_, bytes, length, MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_);
    }
    // MSG_NOSIGNAL: a peer that went away must end this endpoint, not the process.
    return send(socket_, bytes, length, MSG_NOSIGNAL);
}

bool OutputClient::SendOne(long* sent) {
    *sent = 0;
    if (socket_ < 0) {
        return false;
    }
    const std::uint64_t capacity = ring_->Capacity();
    const std::uint64_t published = ring_->PublishedHead();
    CheckSpace(published, readPosition_ % capacity);
    if (socket_ < 0) {
        return false;
    }
    std::uint64_t position = readPosition_ % capacity;
    std::uint64_t size = GetTargetWriteSize(published, position);
    if (size == 0 && readPosition_ % capacity != position) {
        // The read position just passed the skipped tail of a lap; go on from the start.
        position = readPosition_ % capacity;
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
    const long result = Transmit(ring_->Data() + position, boundary);
    if (result > 0) {
        const auto done = static_cast<std::uint64_t>(result);
        readPosition_ += done;
        if (done < boundary) {
            pendingLength_ = boundary - done;
            std::memcpy(pending_.get(), ring_->Data() + position + done, pendingLength_);
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
                         AddressText(peer_, address, sizeof address), AddressPort(peer_),
                         std::strerror(error));
    Close();
    return false;
}

bool OutputClient::SendRest(long* sent) {
    *sent = 0;
    if (socket_ < 0) {
        return false;
    }
    const long result = Transmit(pending_.get(), pendingLength_);
    if (result > 0) {
        const auto done = static_cast<std::uint64_t>(result);
        readPosition_ += done;
        pendingLength_ -= done;
        std::memmove(pending_.get(), pending_.get() + done, pendingLength_);
        *sent = result;
        return true;
    }
    return AfterFailedSend(result, sent, "SendRest");
}

void OutputClient::CheckSpace(std::uint64_t published, std::uint64_t /*position*/) {
    const std::uint64_t capacity = ring_->Capacity();
    if (published - readPosition_ >= capacity) {
        // Lapped: the bytes at the read position have been written over.
        ++overtaken_;
        if (overtaken_ <= kMaxOvertaken) {
            readPosition_ = published;
            return;
        }
        char address[16];
        Logger<true>::Printf(LogSubsystem::NET, kLogError,
                             "network panic! disconnecting client (%s:%d) too slow.\n",
                             AddressText(peer_, address, sizeof address), AddressPort(peer_));
        Close();
        return;
    }
    // Room the writer has before it reaches this reader's unsent bytes. Taken on the unbounded
    // scale, so that a writer that has reserved past the reader but not yet published shows as
    // no room rather than a full ring.
    const std::uint64_t panicRoom = std::min(kPanicRoom, capacity / 16);
    const std::uint64_t limit = readPosition_ + capacity;
    const std::uint64_t writeHead = ring_->WriteHead();
    if (writeHead >= limit || limit - writeHead <= panicRoom) {
        Logger<true>::Printf(LogSubsystem::NET, kLogError, "panic abort!!!!\n");
        readPosition_ = published;
    }
}

std::uint64_t OutputClient::GetTargetWriteSize(std::uint64_t published, std::uint64_t position) {
    const std::uint64_t capacity = ring_->Capacity();
    std::uint64_t limit = chunkLimit_;
    // The lap end bounds only a reader still in an earlier lap than the published bytes; in
    // the writer's own lap the valid bytes run up to the published head.
    if (readPosition_ / capacity < published / capacity) {
        const std::uint64_t lapEnd = ring_->LapEnd();
        if (position >= lapEnd) {
            readPosition_ += capacity - position;
            return 0;
        }
        limit = std::min(limit, lapEnd - position);
    }
    if (published <= readPosition_) {
        return 0;
    }
    return std::min(limit, published - readPosition_);
}

std::uint64_t OutputClient::GetPacketBoundary(std::uint64_t position, std::uint64_t size) const {
    const std::uint8_t* bytes = ring_->Data() + position;
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
    Logger<true>::Printf(LogSubsystem::NET, kLogError,
                         "dropping %llu unsent bytes of %s for (%s:%d): %s\n",
                         static_cast<unsigned long long>(published - readPosition_), ring_->Name(),
                         AddressText(peer_, address, sizeof address), AddressPort(peer_), reason);
    readPosition_ = published;
}

} // namespace Network
