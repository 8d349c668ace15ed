#include "transport/DatagramBatch.h"

#include "transport/DatagramFrame.h"

#include <cerrno>
#include <cstring>

namespace Network {

DatagramBatch::DatagramBatch() : slots_(new std::uint8_t[std::size_t(kSlots) * kSlotBytes]) {
    std::memset(headers_, 0, sizeof headers_);
    std::memset(sources_, 0, sizeof sources_);
    for (unsigned i = 0; i < kSlots; ++i) {
        vectors_[i].iov_base = slots_.get() + std::size_t(i) * kSlotBytes;
        vectors_[i].iov_len = kSlotBytes;
        headers_[i].msg_hdr.msg_iov = &vectors_[i];
        headers_[i].msg_hdr.msg_iovlen = 1;
        headers_[i].msg_hdr.msg_name = &sources_[i];
        datagrams_[i] = {nullptr, 0, 0};
    }
}

int DatagramBatch::Receive(net::sock_t socket) {
    count_ = 0;
    for (unsigned i = 0; i < kSlots; ++i) {
        headers_[i].msg_hdr.msg_namelen = sizeof sources_[i];
        headers_[i].msg_hdr.msg_flags = 0;
    }
    const int got = recvmmsg(socket, headers_, kSlots, MSG_DONTWAIT, nullptr);
    if (got < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
    }
    std::uint64_t dropped = 0;
    for (int i = 0; i < got; ++i) {
        const msghdr& header = headers_[i].msg_hdr;
        const auto* bytes = static_cast<const std::uint8_t*>(vectors_[i].iov_base);
        Datagram& datagram = datagrams_[i];
        datagram.packets = bytes;
        datagram.source =
            header.msg_namelen >= sizeof(sockaddr_in) && sources_[i].sin_family == AF_INET
                ? sources_[i].sin_addr.s_addr
                : 0;
        if ((header.msg_flags & MSG_TRUNC) != 0) {
            datagram.length = 0;
            ++dropped;
        } else {
            datagram.length = FrameDatagram(bytes, headers_[i].msg_len, kSlotBytes, &dropped);
        }
    }
    if (dropped != 0) {
        dropped_.fetch_add(dropped, std::memory_order_relaxed);
    }
    count_ = unsigned(got);
    return got;
}

} // namespace Network
