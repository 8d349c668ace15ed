// Loopback throughput of the packet path against bare sockets.
//
// BM_PacketPathUdp: 76-byte packets (one sample of 32 continuous channels) are published one
// by one into a ring, sent by an OutputClient in datagrams of whole packets (18 to a
// 1440-byte datagram, up to 20 datagrams per Send), received by an IOClient and taken out
// with HasPacket/DeletePacket. BM_PacketPathUdpBatch receives the same datagrams as the
// datagram link does: in batches, framed where they landed, every packet of a batch walked
// once. BM_RawUdp sends and receives the same datagrams with plain sendto/recv. All count
// packets; their ratio is the cost of the path.
#include "protocol/KestPacket.h"
#include "transport/CircularKestBuffer.h"
#include "transport/DatagramBatch.h"
#include "transport/IOClient.h"
#include "transport/OutputClient.h"
#include "transport/SocketAddress.h"
#include "transport/SocketOptions.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

namespace {

constexpr std::size_t kPacketBytes = 76;
constexpr std::size_t kPacketsPerDatagram = std::size_t(1440) / kPacketBytes;
constexpr int kDatagramsPerRound = Network::OutputClient::kSendPasses;
constexpr std::size_t kPacketsPerRound = kPacketsPerDatagram * kDatagramsPerRound;

bool LoopbackOnly() {
    for (const char* name : {"KEST_WIRED_NET", "KEST_WIRELESS_NET"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && std::strncmp(value, "127.", 4) != 0) {
            return false;
        }
    }
    return true;
}

// A non-blocking UDP socket with the links' options, bound to 127.0.0.1 when `bind` is set.
net::sock_t LoopbackUdp(bool bindIt, unsigned short* port) {
    net::sock_t socket = net::kInvalidSocket;
    Network::CreateUDPSocket(socket);
    Network::SetAllOptions(socket, false);
    if (bindIt && socket >= 0) {
        sockaddr_in address;
        Network::MakeAddress("127.0.0.1", 0, &address);
        socklen_t length = sizeof address;
        if (bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            net::CloseSocket(socket);
        } else {
            *port = Network::AddressPort(address);
        }
    }
    return socket;
}

void FillSample(std::uint8_t* packet, std::uint32_t timestamp) {
    packet[0] = kPacketBytes / 4;
    packet[1] = 1;
    packet[2] = 2;
    packet[3] = 1;
    std::memcpy(packet + 4, &timestamp, 4);
    std::memset(packet + 8, 0x5A, kPacketBytes - 8);
}

bool WaitReadable(net::sock_t socket) {
    pollfd entry{socket, POLLIN, 0};
    return poll(&entry, 1, 100) > 0;
}

// Skips the benchmark unless both networks of the environment are loopback ones.
bool RefusedOffLoopback(benchmark::State& state) {
    if (LoopbackOnly()) {
        return false;
    }
    state.SkipWithError("refusing to run: KEST_WIRED_NET/KEST_WIRELESS_NET not loopback");
    return true;
}

// Publishes one round of samples into `ring` and has `sender` send them: the packets handed
// to the socket, or -1 (the benchmark skipped) when the send failed.
long SendRound(benchmark::State& state, Network::CircularKestBuffer& ring,
               Network::OutputClient& sender, std::uint32_t& timestamp) {
    for (std::size_t i = 0; i < kPacketsPerRound; ++i) {
        FillSample(ring.Reserve(kPacketBytes), timestamp++);
        ring.Publish();
    }
    const std::uint64_t start = sender.ReadPosition();
    if (sender.Send() < 0 && sender.Socket() < 0) {
        state.SkipWithError("send failed");
        return -1;
    }
    return long((sender.ReadPosition() - start) / kPacketBytes);
}

void BM_PacketPathUdp(benchmark::State& state) {
    if (RefusedOffLoopback(state)) {
        return;
    }
    unsigned short port = 0;
    net::sock_t receiveSocket = LoopbackUdp(true, &port);
    net::sock_t sendSocket = LoopbackUdp(false, &port);
    if (receiveSocket < 0 || sendSocket < 0) {
        state.SkipWithError("no loopback sockets");
        return;
    }
    sockaddr_in peer;
    Network::MakeAddress("127.0.0.1", port, &peer);
    Network::CircularKestBuffer ring(Network::kKestRingCapacity, "dataBuffer");
    Network::CircularKestBuffer unused(4096, "configBuffer");
    Network::OutputClient sender(sendSocket, ring, 1440, peer, Network::OutputClient::kDatagram);
    Network::IOClient receiver(receiveSocket, unused, 1440, 4320, peer,
                               Network::OutputClient::kDatagram);

    std::uint32_t timestamp = 0;
    std::uint64_t received = 0;
    for (auto _ : state) {
        const long sent = SendRound(state, ring, sender, timestamp);
        if (sent < 0) {
            return;
        }
        const std::uint64_t expected = std::uint64_t(sent);
        std::uint64_t got = 0;
        while (got < expected) {
            const std::uint64_t before = got;
            receiver.RecvFromNetwork(1440);
            while (KestPacket* packet = receiver.HasPacket()) {
                benchmark::DoNotOptimize(packet->timestamp);
                receiver.DeletePacket(packet);
                ++got;
            }
            if (got == before && !WaitReadable(receiveSocket)) {
                break; // lost on the way
            }
        }
        received += got;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(received));
}

void BM_PacketPathUdpBatch(benchmark::State& state) {
    if (RefusedOffLoopback(state)) {
        return;
    }
    unsigned short port = 0;
    net::UniqueSocket receiveSocket(LoopbackUdp(true, &port));
    net::sock_t sendSocket = LoopbackUdp(false, &port);
    if (!receiveSocket.IsOpen() || sendSocket < 0) {
        state.SkipWithError("no loopback sockets");
        return;
    }
    sockaddr_in peer;
    Network::MakeAddress("127.0.0.1", port, &peer);
    Network::CircularKestBuffer ring(Network::kKestRingCapacity, "dataBuffer");
    Network::OutputClient sender(sendSocket, ring, 1440, peer, Network::OutputClient::kDatagram);
    Network::DatagramBatch batch;

    std::uint32_t timestamp = 0;
    std::uint64_t received = 0;
    for (auto _ : state) {
        const long sent = SendRound(state, ring, sender, timestamp);
        if (sent < 0) {
            return;
        }
        const std::uint64_t expected = std::uint64_t(sent);
        std::uint64_t got = 0;
        while (got < expected) {
            if (batch.Receive(receiveSocket.Get()) <= 0) {
                if (!WaitReadable(receiveSocket.Get())) {
                    break; // lost on the way
                }
                continue;
            }
            for (unsigned d = 0; d < batch.Count(); ++d) {
                const auto& datagram = batch.At(d);
                for (std::uint64_t at = 0; at < datagram.length;
                     at += std::uint64_t(datagram.packets[at]) * 4) {
                    const auto* packet = reinterpret_cast<const KestPacket*>(datagram.packets + at);
                    benchmark::DoNotOptimize(packet->timestamp);
                    ++got;
                }
            }
        }
        received += got;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(received));
}

void BM_RawUdp(benchmark::State& state) {
    if (RefusedOffLoopback(state)) {
        return;
    }
    unsigned short port = 0;
    net::UniqueSocket receiveSocket(LoopbackUdp(true, &port));
    net::UniqueSocket sendSocket(LoopbackUdp(false, &port));
    if (!receiveSocket.IsOpen() || !sendSocket.IsOpen()) {
        state.SkipWithError("no loopback sockets");
        return;
    }
    sockaddr_in peer;
    Network::MakeAddress("127.0.0.1", port, &peer);
    std::vector<std::uint8_t> datagram(kPacketsPerDatagram * kPacketBytes);
    std::vector<std::uint8_t> incoming(1440);

    std::uint32_t timestamp = 0;
    std::uint64_t received = 0;
    for (auto _ : state) {
        int sent = 0;
        for (int i = 0; i < kDatagramsPerRound; ++i) {
            for (std::size_t p = 0; p < kPacketsPerDatagram; ++p) {
                FillSample(datagram.data() + p * kPacketBytes, timestamp++);
            }
            if (sendto(sendSocket.Get(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                       reinterpret_cast<sockaddr*>(&peer), sizeof peer) > 0) {
                ++sent;
            }
        }
        for (int i = 0; i < sent;) {
            const long got = recv(receiveSocket.Get(), incoming.data(), incoming.size(), 0);
            if (got > 0) {
                benchmark::DoNotOptimize(incoming[4]);
                received += static_cast<std::uint64_t>(got) / kPacketBytes;
                ++i;
            } else if (!WaitReadable(receiveSocket.Get())) {
                break;
            }
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(received));
}

BENCHMARK(BM_PacketPathUdp);
BENCHMARK(BM_PacketPathUdpBatch);
BENCHMARK(BM_RawUdp);

} // namespace
