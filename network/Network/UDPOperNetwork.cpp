#include "network/Network/UDPOperNetwork.h"

#include "cache/KestCache.h"
#include "network/ClientFamily.h"
#include "network/Logger.h"
#include "network/SocketAddress.h"
#include "network/SocketOptions.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <thread>

namespace Network {

namespace {

constexpr auto kIdleSleep = std::chrono::microseconds(20);

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

sockaddr_in AnyAddress() {
    sockaddr_in address;
    MakeAddress(nullptr, 0, &address);
    return address;
}

} // namespace

UDPOperNetwork::UDPOperNetwork(KestCache* cache, const char* address, const NetConfig& config)
    : UDPNetwork(OperNetwork::gDataBuffer, OperNetwork::gConfigBuffer), m_cache(cache),
      m_config(config),
      m_address(address != nullptr && address[0] != '\0' ? address : config.BroadcastAddress()),
      m_receiveEndpoint(net::kInvalidSocket, OperNetwork::gConfigBuffer, kUdpChunkLimit,
                        kUdpReceiveCapacity, AnyAddress(), OutputClient::kDatagram) {}

UDPOperNetwork::~UDPOperNetwork() {
    Shutdown();
}

KestPacket* UDPOperNetwork::RecvConfigPacket() {
    return m_receiveEndpoint.HasPacket();
}

bool UDPOperNetwork::DeleteConfigPacket(const KestPacket* packet) {
    return m_receiveEndpoint.DeletePacket(packet);
}

bool UDPOperNetwork::StartUp() {
    return Start(m_config.UdpLocalPort(), m_config.UdpRemotePort(), m_address.c_str(), true);
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
    m_configEndpoint.Attach(sender.Release(), peer);
    m_receiveEndpoint.Attach(receiver.Release(), local);
    return true;
}

bool UDPOperNetwork::FallenBehind(bool behind) const {
    std::uint64_t held = 0;
    std::uint64_t limit = 0;
    if (!ReceiveQueue(m_receiveEndpoint.Socket(), &held, &limit)) {
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
    OperNetwork::gNetworkState.store(1);
    ReportStartup(true);
    bool behind = false;
    while (!StopRequested()) {
        const long sent = m_configEndpoint.Send();
        // A datagram that ended inside a packet leaves bytes behind that wait for more; only
        // new bytes make the pass start again at once.
        const std::uint64_t before = m_receiveEndpoint.Fill();
        const long held = m_receiveEndpoint.RecvFromNetwork(kUdpChunkLimit);
        if (held > 0) {
            behind = FallenBehind(behind);
            while (KestPacket* packet = RecvConfigPacket()) {
                if (!behind || packet->IsConfig()) {
                    m_cache->ProcKestPacket(packet);
                } else {
                    m_skippedData.fetch_add(1, std::memory_order_relaxed);
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
    m_configEndpoint.Close();
    m_receiveEndpoint.Close();
    OperNetwork::gNetworkState.store(2);
}

} // namespace Network
