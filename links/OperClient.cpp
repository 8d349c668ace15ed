#include "links/OperClient.h"

#include "protocol/KestPacketBuilder.h"

#include <cstring>
#include <poll.h>

namespace Network {

namespace {

// Index of the signal selection descriptor property of an operator.
constexpr std::uint16_t kOperSignalSelectionIndex = 0x80A1;

} // namespace

OperClient::OperClient(net::sock_t socket, CircularKestBuffer& ring, const sockaddr_in& peer)
    : IOClient(socket, ring, kOperChunkLimit, kOperReceiveCapacity, peer, 0) {}

OperClient::~OperClient() = default;

bool OperClient::Connected() const {
    std::lock_guard<std::mutex> hold(socketMutex_);
    return Socket() >= 0;
}

bool OperClient::Recv() {
    std::unique_lock<std::mutex> hold(socketMutex_, std::try_to_lock);
    if (!hold.owns_lock() || Socket() < 0) {
        return false;
    }
    pollfd ready{Socket(), POLLIN, 0};
    if (poll(&ready, 1, 0) <= 0) {
        return false;
    }
    RecvFromNetwork(0);
    return true;
}

std::uint8_t* OperClient::AllocSize(std::size_t size) {
    std::uint8_t* area = Ring().Reserve(size);
    if (area != nullptr) {
        std::memset(area, 0, (size + 3) & ~std::size_t(3));
    }
    return area;
}

bool OperClient::Send() {
    Ring().Publish();
    return SendPublished();
}

bool OperClient::SendPublished() {
    std::lock_guard<std::mutex> hold(socketMutex_);
    if (Socket() < 0) {
        return false;
    }
    return OutputClient::Send() >= 0 && Socket() >= 0;
}

bool OperClient::SendPacket(const KestPacket& packet) {
    const std::size_t length = std::size_t(packet.size) * 4;
    if (length < kKestHeaderSize) {
        return false;
    }
    {
        RingWriter writer(Ring());
        std::uint8_t* area = writer.Reserve(length);
        if (area == nullptr) {
            return false;
        }
        std::memcpy(area, &packet, length);
        writer.Publish();
    }
    return SendPublished();
}

bool OperClient::SendRequest(std::uint16_t index) {
    {
        RingWriter writer(Ring());
        std::uint8_t* area = writer.Reserve(kKestConfigHeaderSize);
        if (area == nullptr) {
            return false;
        }
        KestBuildRequest(area, kKestConfigHeaderSize, kKestOperatorProcId, 0, index);
        writer.Publish();
    }
    return SendPublished();
}

bool OperClient::RequestTrialDesc() {
    return SendRequest(kKestOperatorTrialPropIndex);
}

bool OperClient::RequestSignalSelectionDesc() {
    return SendRequest(kOperSignalSelectionIndex);
}

} // namespace Network
