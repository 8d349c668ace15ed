// Arbitrary bytes arriving on a stream endpoint, in pieces, cut into packets by their size
// byte: every packet handed out is whole, inside the receive buffer, never of size 0, and
// the bytes that come out are the bytes that went in (up to a logged discard).
//
// With the first byte's top bit set the pieces arrive as datagrams instead: the packets
// that come out of each datagram are the front of that datagram, whole, nothing of it is
// left behind for the next one, and a datagram that does not come out whole counts a drop.
#include "transport/CircularKestBuffer.h"
#include "transport/IOClient.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Holds the fuzzer's invariants; a broken one aborts so the fuzzer reports the input.
void Require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

int RunDatagrams(const std::uint8_t* data, std::size_t size) {
    static Network::CircularKestBuffer ring(1 << 16, "fuzz-datagrams");
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_DGRAM, 0, sockets) != 0) {
        return 0;
    }
    sockaddr_in peer{};
    const std::uint64_t capacity = 1024;
    Network::IOClient endpoint(sockets[0], ring, capacity, capacity, peer,
                               Network::OutputClient::kDatagram);
    const std::size_t piece = 1 + data[0] % 97;
    std::uint64_t dropped = 0;
    for (std::size_t offset = 1; offset < size; offset += piece) {
        const std::size_t length = std::min(piece, size - offset);
        const std::uint8_t* datagram = data + offset;
        if (send(sockets[1], datagram, length, 0) != long(length)) {
            break;
        }
        endpoint.RecvFromNetwork(0);
        std::size_t out = 0;
        while (KestPacket* packet = endpoint.HasPacket()) {
            const std::size_t bytes = packet->ByteSize();
            Require(bytes >= 8 && out + bytes <= length);
            Require(std::memcmp(packet, datagram + out, bytes) == 0);
            out += bytes;
            Require(endpoint.DeletePacket(packet));
        }
        Require(endpoint.Fill() == 0);
        Require((out == length) == (endpoint.DroppedPackets() == dropped));
        dropped = endpoint.DroppedPackets();
    }
    close(sockets[1]);
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Network::CircularKestBuffer ring(1 << 16, "fuzz");
    if (size < 1 || size > 16384) {
        return 0;
    }
    if (data[0] & 0x80) {
        return RunDatagrams(data, size);
    }
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sockets) != 0) {
        return 0;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::uint64_t capacity = 1024;
    Network::IOClient endpoint(sockets[0], ring, capacity, capacity, peer, 0);

    // The first byte sets the piece size, so the fuzzer also explores how the stream is cut.
    const std::size_t piece = 1 + data[0] % 97;
    std::vector<std::uint8_t> out;
    std::size_t offset = 1;
    bool discarded = false;
    while (true) {
        if (offset < size) {
            std::size_t length = std::min(piece, size - offset);
            if (write(sockets[1], data + offset, length) != long(length)) {
                break;
            }
            offset += length;
        } else if (sockets[1] >= 0) {
            close(sockets[1]);
            sockets[1] = -1;
        }
        const long fill = endpoint.RecvFromNetwork(0);
        std::uint64_t held = fill > 0 ? std::uint64_t(fill) : endpoint.Fill();
        while (KestPacket* packet = endpoint.HasPacket()) {
            const std::size_t bytes = packet->ByteSize();
            Require(bytes >= 4 && bytes <= capacity);
            const auto* first = reinterpret_cast<const std::uint8_t*>(packet);
            out.insert(out.end(), first, first + bytes);
            Require(endpoint.DeletePacket(packet));
            held = held >= bytes ? held - bytes : 0;
        }
        // Bytes that left without being handed out were discarded (a packet of size 0).
        discarded = discarded || endpoint.Fill() != held;
        if (fill <= 0 && sockets[1] < 0) {
            break;
        }
    }
    if (sockets[1] >= 0) {
        close(sockets[1]);
    }
    // Without a discard, what came out is a prefix of what went in.
    if (!discarded && !out.empty()) {
        Require(out.size() <= size - 1);
        Require(std::memcmp(out.data(), data + 1, out.size()) == 0);
    }
    return 0;
}
