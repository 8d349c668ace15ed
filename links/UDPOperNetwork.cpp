#include "links/UDPOperNetwork.h"

#include "cache/KestCache.h"
#include "transport/ClientFamily.h"
#include "transport/Logger.h"
#include "transport/SocketAddress.h"
#include "transport/SocketOptions.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace Network {

namespace {

constexpr auto kIdleSleep = std::chrono::microseconds(20);
// Room for the largest datagram: the thread takes every packet out after each receive.
constexpr std::uint64_t kReceiveCapacity = kLargestDatagram + 1;

// Bytes the kernel holds for `socket` (SK_MEMINFO_RMEM_ALLOC) and the most it will hold
// (SK_MEMINFO_RCVBUF); false when the system does not tell.
bool ReceiveQueue(net::sock_t socket, std::uint64_t* held, std::uint64_t* limit) {
    std::uint32_t info[9] = {};
    socklen_t length = sizeof info;
    if (socket < 0 || getsockopt(socket, SOL_SOCKET, SO_MEMINFO, info, &length) != 0 ||
        length < 2 * sizeof info[0] || info[1] == 0) {
        return false;
    }
    *held = info[0];
    *limit = info[1];
    return true;
}

// The IPv4 address (network order) of dotted `text`, 0 when it is none.
std::uint32_t HostAddress(const std::string& text) {
    sockaddr_in address;
    return MakeAddress(text.c_str(), 0, &address) ? address.sin_addr.s_addr : 0;
}

sockaddr_in AnyAddress() {
    sockaddr_in address;
    MakeAddress(nullptr, 0, &address);
    return address;
}

} // namespace

UDPOperNetwork::UDPOperNetwork(KestCache* cache, const char* address, const NetConfig& config)
    : UDPNetwork(OperNetwork::gDataBuffer, OperNetwork::gConfigBuffer), cache_(cache),
      config_(config),
      address_(address != nullptr && address[0] != '\0' ? address : config.BroadcastAddress()),
      receiveEndpoint_(net::kInvalidSocket, OperNetwork::gConfigBuffer, kUdpChunkLimit,
                       kReceiveCapacity, AnyAddress(), OutputClient::kDatagram),
      processorHosts_{HostAddress(address_), HostAddress(config.ProcessorAddress(false)),
                      HostAddress(config.ProcessorAddress(true))},
      networks_{HostAddress(config.WiredHost(0)), HostAddress(config.WirelessHost(0))} {}

UDPOperNetwork::~UDPOperNetwork() {
    Shutdown();
}

KestPacket* UDPOperNetwork::RecvConfigPacket() {
    return receiveEndpoint_.HasPacket();
}

bool UDPOperNetwork::DeleteConfigPacket(const KestPacket* packet) {
    return receiveEndpoint_.DeletePacket(packet);
}

bool UDPOperNetwork::StartUp() {
    return Start(config_.UdpLocalPort(), config_.UdpRemotePort(), address_.c_str(), true);
}

bool UDPOperNetwork::Initialize(unsigned short localPort, unsigned short remotePort,
                                const char* address, bool broadcast) {
    sockaddr_in peer;
    if (!MakeAddress(address, remotePort, &peer) || address == nullptr || address[0] == '\0') {
        Logger<true>::Printf(LogSubsystem::NET, kLogError, "UDP link: bad address '%s'\n",
                             address != nullptr ? address : "");
        return false;
    }
    net::UniqueSocket receiver;
    CreateUDPSocket(receiver.Handle());
    SetOptReusable(receiver.Handle());
    if (!receiver.IsOpen() || !SetAllOptions(receiver.Handle(), broadcast)) {
        return false;
    }
    net::UniqueSocket sender;
    CreateUDPSocket(sender.Handle());
    SetOptReusable(sender.Handle());
    if (!sender.IsOpen() || !SetAllOptions(sender.Handle(), broadcast)) {
        return false;
    }
    sockaddr_in local;
    MakeAddress(nullptr, localPort, &local);
    if (bind(receiver.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        Logger<true>::Printf(LogSubsystem::NET, kLogError, "UDP link: bind to port %d: %s\n",
                             localPort, std::strerror(errno));
        return false;
    }
    configEndpoint_.Attach(sender.Release(), peer);
    receiveEndpoint_.Attach(receiver.Release(), local);
    return true;
}

bool UDPOperNetwork::FromProcessor(std::uint32_t source) const {
    for (std::uint32_t host : processorHosts_) {
        if (host != 0 && host == source) {
            return true;
        }
    }
    return false;
}

bool UDPOperNetwork::OnNetworks(std::uint32_t source) const {
    const std::uint32_t prefix = htonl(0xFFFFFF00u);
    for (std::uint32_t network : networks_) {
        if (network != 0 && (source & prefix) == (network & prefix)) {
            return true;
        }
    }
    return false;
}

bool UDPOperNetwork::FallenBehind(bool behind) const {
    std::uint64_t held = 0;
    std::uint64_t limit = 0;
    if (!ReceiveQueue(receiveEndpoint_.Socket(), &held, &limit)) {
        return false;
    }
    return behind ? held > limit / 8 : held > limit / 2;
}

void UDPOperNetwork::ServerMain(unsigned short localPort, unsigned short remotePort,
                                const char* address, bool broadcast) {
    if (!Initialize(localPort, remotePort, address, broadcast)) {
        ReportStartup(false);
        return;
    }
    OperNetwork::gNetworkState.store(OperNetwork::kLinkRunning);
    ReportStartup(true);
    bool behind = false;
    while (!StopRequested()) {
        const long sent = configEndpoint_.Send();
        // Each datagram is framed on its own; only new bytes make the pass start again at once.
        const std::uint64_t before = receiveEndpoint_.Fill();
        const long held = receiveEndpoint_.RecvFromNetwork(kLargestDatagram - 1);
        if (held > 0) {
            // Each receive takes one datagram; its sender tells operators apart.
            const std::uint32_t source = receiveEndpoint_.LastSource();
            const bool fromProcessor = FromProcessor(source);
            const bool fromNetwork = fromProcessor || OnNetworks(source);
            behind = FallenBehind(behind);
            while (KestPacket* packet = RecvConfigPacket()) {
                if (!fromNetwork || (!fromProcessor && packet->procId == kKestProcessorId)) {
                    foreign_.fetch_add(1, std::memory_order_relaxed);
                } else if (!behind || packet->IsConfig()) {
                    cache_->ProcKestPacket(packet, source);
                } else {
                    skippedData_.fetch_add(1, std::memory_order_relaxed);
                }
                DeleteConfigPacket(packet);
            }
            if (std::uint64_t(held) > before) {
                continue;
            }
        }
        if (sent > 0) {
            continue;
        }
        std::this_thread::sleep_for(kIdleSleep);
    }
    configEndpoint_.Close();
    receiveEndpoint_.Close();
    OperNetwork::gNetworkState.store(OperNetwork::kLinkStopped);
}

} // namespace Network
