#include "links/TCPOperNetwork.h"

#include "cache/KestCache.h"
#include "links/OperAddress.h"
#include "links/TimedConnect.h"
#include "transport/ClientFamily.h"
#include "transport/Logger.h"
#include "transport/SocketAddress.h"
#include "transport/SocketOptions.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace Network {
namespace OperNetwork {

namespace {

constexpr auto kIdleSleep = std::chrono::microseconds(20);
// A send to an operator that does not read gives up after this long instead of holding
// the command thread.
constexpr int kOperatorSendTimeoutMs = 1000;

sockaddr_in NoPeer() {
    sockaddr_in address;
    MakeAddress(nullptr, 0, &address);
    return address;
}

} // namespace

TCPOperNetwork::TCPOperNetwork(KestCache* cache, const char* address, const NetConfig& config)
    : m_cache(cache), m_config(config), m_address(address != nullptr ? address : ""),
      m_configEndpoint(net::kInvalidSocket, gConfigBuffer, kTcpChunkLimit, kTcpReceiveCapacity,
                       NoPeer(), 0),
      m_dataEndpoint(net::kInvalidSocket, gDataBuffer, kTcpChunkLimit, kTcpReceiveCapacity,
                     NoPeer(), 0) {
    m_walk.reserve(64);
}

TCPOperNetwork::~TCPOperNetwork() {
    std::int32_t state = m_state.load();
    while (state < kStopRequested && !m_state.compare_exchange_weak(state, kFailed)) {
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    // The clients close their sockets; their rings go after them.
    m_operators.clear();
    m_operatorRings.clear();
    m_configEndpoint.Close();
    m_dataEndpoint.Close();
}

KestPacket* TCPOperNetwork::RecvConfigPacket() {
    if (m_configEndpoint.Socket() >= 0) {
        m_configEndpoint.RecvFromNetwork(0);
    }
    return m_configEndpoint.HasPacket();
}

bool TCPOperNetwork::DeleteConfigPacket(const KestPacket* packet) {
    return m_configEndpoint.DeletePacket(packet);
}

KestPacket* TCPOperNetwork::RecvDataPacket() {
    if (m_dataEndpoint.Socket() >= 0) {
        m_dataEndpoint.RecvFromNetwork(0);
    }
    return m_dataEndpoint.HasPacket();
}

bool TCPOperNetwork::DeleteDataPacket(const KestPacket* packet) {
    return m_dataEndpoint.DeletePacket(packet);
}

void TCPOperNetwork::Shutdown() {
    std::int32_t state = m_state.load();
    while (state < kStopRequested && !m_state.compare_exchange_weak(state, kStopRequested)) {
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

net::sock_t TCPOperNetwork::ConnectStream(const std::string& address, unsigned short port) {
    int error = 0;
    net::sock_t socket = ConnectTcp(address.c_str(), port, kProcessorConnectMs, &error);
    if (socket < 0) {
        Logger<true>::LogPrintf(LogSubsystem::NET, kLogError, "failed to connect with %s:%d: %s\n",
                                address.c_str(), port,
                                error > 0 ? std::strerror(error) : "no socket");
    }
    return socket;
}

bool TCPOperNetwork::ConnectBoth(const std::string& address) {
    net::UniqueSocket data(ConnectStream(address, m_config.DataPort()));
    if (!data.IsOpen()) {
        return false;
    }
    net::UniqueSocket config(ConnectStream(address, m_config.ConfigPort()));
    if (!config.IsOpen()) {
        return false;
    }
    sockaddr_in dataPeer, configPeer;
    MakeAddress(address.c_str(), m_config.DataPort(), &dataPeer);
    MakeAddress(address.c_str(), m_config.ConfigPort(), &configPeer);
    m_dataEndpoint.Attach(data.Release(), dataPeer);
    m_configEndpoint.Attach(config.Release(), configPeer);
    std::lock_guard<std::mutex> hold(m_addressMutex);
    m_connectedAddress = address;
    return true;
}

bool TCPOperNetwork::Initialize(const char* address) {
    if (address != nullptr && address[0] != '\0') {
        return ConnectBoth(address);
    }
    return ConnectBoth(m_config.ProcessorAddress(false)) ||
           ConnectBoth(m_config.ProcessorAddress(true));
}

std::string TCPOperNetwork::ProcessorAddress() const {
    std::lock_guard<std::mutex> hold(m_addressMutex);
    return m_connectedAddress;
}

void TCPOperNetwork::FeedCache(IOClient& endpoint) {
    while (KestPacket* packet = endpoint.HasPacket()) {
        m_cache->ProcKestPacket(packet);
        endpoint.DeletePacket(packet);
    }
}

void TCPOperNetwork::ServeOperators() {
    {
        std::lock_guard<std::mutex> hold(m_operatorMutex);
        m_walk.clear();
        for (auto& entry : m_operators) {
            m_walk.push_back(entry.second.get());
        }
    }
    // Clients are only removed when the link is destroyed, after this thread has ended.
    for (OperClient* client : m_walk) {
        client->Recv();
        FeedCache(*client);
    }
}

void TCPOperNetwork::ServerMain() {
    if (!Initialize(m_address.c_str())) {
        m_state.store(kFailed);
        return;
    }
    net::sock_t dataSocket = m_dataEndpoint.Socket();
    net::sock_t configSocket = m_configEndpoint.Socket();
    SetOptNodelay(dataSocket);
    SetOptNodelay(configSocket);
    if (dataSocket < 0 || configSocket < 0) {
        m_state.store(kFailed);
        return;
    }
    gNetworkState.store(1);
    std::int32_t starting = kStarting;
    m_state.compare_exchange_strong(starting, kRunning);
    while (m_state.load() < kStopRequested && m_configEndpoint.Socket() >= 0 &&
           m_dataEndpoint.Socket() >= 0) {
        m_configEndpoint.Send();
        m_configEndpoint.RecvFromNetwork(0);
        m_dataEndpoint.RecvFromNetwork(0);
        FeedCache(m_configEndpoint);
        FeedCache(m_dataEndpoint);
        ServeOperators();
        if (m_configEndpoint.Socket() < 0 || m_dataEndpoint.Socket() < 0) {
            break;
        }
        pollfd ready[2] = {{m_dataEndpoint.Socket(), POLLIN, 0},
                           {m_configEndpoint.Socket(), POLLIN, 0}};
        if (poll(ready, 2, 0) <= 0) {
            std::this_thread::sleep_for(kIdleSleep);
        }
    }
    gNetworkState.store(2);
    std::int32_t state = m_state.load();
    while (state != kFailed && !m_state.compare_exchange_weak(state, kEnded)) {
    }
}

bool TCPOperNetwork::StartUp() {
    if (m_thread.joinable()) {
        return false;
    }
    ResetRings();
    m_configEndpoint.SetReadPosition(0);
    m_dataEndpoint.SetReadPosition(0);
    m_state.store(kStarting);
    m_thread = std::thread([this] { ServerMain(); });
    // The thread leaves the starting state within the two bounded connect attempts.
    while (m_state.load() == kStarting) {
        std::this_thread::sleep_for(std::chrono::microseconds(10));
    }
    if (m_state.load() == kRunning) {
        return true;
    }
    m_thread.join();
    return false;
}

bool TCPOperNetwork::ConnectOperator(const char* address, int timeoutMs) {
    sockaddr_in peer;
    if (address == nullptr || !MakeAddress(address, m_config.OperatorPort(), &peer) ||
        address[0] == '\0') {
        Logger<true>::LogPrintf(LogSubsystem::NET, kLogError, "failed to connect with %s\n",
                                std::strerror(EINVAL));
        return false;
    }
    net::UniqueSocket socket;
    CreateTCPSocket(socket.Handle());
    SetOptReusable(socket.Handle());
    if (!socket.IsOpen()) {
        return false;
    }
    const int result = ConnectWithin(socket.Get(), peer, timeoutMs < 0 ? 0 : timeoutMs);
    if (result == kConnectNotMade) {
        Logger<true>::LogPrintf(LogSubsystem::NET, kLogError,
                                "Unable to create a nonblocking socket\n");
        return false;
    }
    if (result != 0) {
        Logger<true>::LogPrintf(LogSubsystem::NET, kLogError, "failed to connect with %s\n",
                                std::strerror(result));
        return false;
    }
    SetOptBlock(socket.Handle());
    if (!socket.IsOpen()) {
        Logger<true>::LogPrintf(LogSubsystem::NET, kLogError,
                                "Unable to set socket back to blocking!\n");
        return false;
    }
    timeval limit{kOperatorSendTimeoutMs / 1000, (kOperatorSendTimeoutMs % 1000) * 1000};
    setsockopt(socket.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);

    const std::uint32_t id = peer.sin_addr.s_addr;
    std::lock_guard<std::mutex> hold(m_operatorMutex);
    if (m_operators.count(id) != 0) {
        // The first connection stays; this one closes with `socket`.
        return true;
    }
    auto ring = std::make_unique<CircularKestBuffer>(kKestRingCapacity, "quillon");
    auto client = std::make_unique<OperClient>(socket.Release(), *ring, peer);
    m_operatorRings.push_back(std::move(ring));
    m_operators.emplace(id, std::move(client));
    return true;
}

OperClient* TCPOperNetwork::FindOperator(std::uint32_t id) {
    std::lock_guard<std::mutex> hold(m_operatorMutex);
    auto found = m_operators.find(id);
    return found == m_operators.end() ? nullptr : found->second.get();
}

std::uint32_t TCPOperNetwork::FirstConnectedOperator() {
    std::lock_guard<std::mutex> hold(m_operatorMutex);
    for (auto& entry : m_operators) {
        if (entry.second->Connected()) {
            return entry.first;
        }
    }
    return kNoEndpoint;
}

std::vector<std::uint32_t> TCPOperNetwork::OperatorIds() {
    std::lock_guard<std::mutex> hold(m_operatorMutex);
    std::vector<std::uint32_t> ids;
    for (auto& entry : m_operators) {
        ids.push_back(entry.first);
    }
    return ids;
}

} // namespace OperNetwork
} // namespace Network
