#include "links/TCPOperNetwork.h"

#include "cache/KestCache.h"
#include "links/LinkIntake.h"
#include "links/LinkWake.h"
#include "links/OperAddress.h"
#include "links/TimedConnect.h"
#include "transport/ClientFamily.h"
#include "transport/Logger.h"
#include "transport/SocketAddress.h"
#include "transport/SocketOptions.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>

namespace Network {
namespace OperNetwork {

namespace {

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
    : cache_(cache), config_(config), address_(address != nullptr ? address : ""),
      configEndpoint_(net::kInvalidSocket, gConfigBuffer, kTcpChunkLimit, kTcpReceiveCapacity,
                      NoPeer(), 0),
      dataEndpoint_(net::kInvalidSocket, gDataBuffer, kTcpChunkLimit, kTcpReceiveCapacity, NoPeer(),
                    0) {
    walk_.reserve(64);
}

TCPOperNetwork::~TCPOperNetwork() {
    std::int32_t state = state_.load();
    while (state < kStopRequested && !state_.compare_exchange_weak(state, kFailed)) {
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    // The clients close their sockets; their rings go after them.
    operators_.clear();
    retired_.clear();
    operatorRings_.clear();
    configEndpoint_.Close();
    dataEndpoint_.Close();
}

KestPacket* TCPOperNetwork::RecvConfigPacket() {
    if (configEndpoint_.Socket() >= 0) {
        configEndpoint_.RecvFromNetwork(0);
    }
    return configEndpoint_.HasPacket();
}

bool TCPOperNetwork::DeleteConfigPacket(const KestPacket* packet) {
    return configEndpoint_.DeletePacket(packet);
}

KestPacket* TCPOperNetwork::RecvDataPacket() {
    if (dataEndpoint_.Socket() >= 0) {
        dataEndpoint_.RecvFromNetwork(0);
    }
    return dataEndpoint_.HasPacket();
}

bool TCPOperNetwork::DeleteDataPacket(const KestPacket* packet) {
    return dataEndpoint_.DeletePacket(packet);
}

void TCPOperNetwork::Shutdown() {
    std::int32_t state = state_.load();
    while (state < kStopRequested && !state_.compare_exchange_weak(state, kStopRequested)) {
    }
    if (thread_.joinable()) {
        thread_.join();
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
    net::UniqueSocket data(ConnectStream(address, config_.DataPort()));
    if (!data.IsOpen()) {
        return false;
    }
    net::UniqueSocket config(ConnectStream(address, config_.ConfigPort()));
    if (!config.IsOpen()) {
        return false;
    }
    sockaddr_in dataPeer, configPeer;
    MakeAddress(address.c_str(), config_.DataPort(), &dataPeer);
    MakeAddress(address.c_str(), config_.ConfigPort(), &configPeer);
    dataEndpoint_.Attach(data.Release(), dataPeer);
    configEndpoint_.Attach(config.Release(), configPeer);
    std::lock_guard<std::mutex> hold(addressMutex_);
    connectedAddress_ = address;
    return true;
}

bool TCPOperNetwork::Initialize(const char* address) {
    if (address != nullptr && address[0] != '\0') {
        return ConnectBoth(address);
    }
    return ConnectBoth(config_.ProcessorAddress(false)) ||
           ConnectBoth(config_.ProcessorAddress(true));
}

std::string TCPOperNetwork::ProcessorAddress() const {
    std::lock_guard<std::mutex> hold(addressMutex_);
    return connectedAddress_;
}

void TCPOperNetwork::FeedCache(IOClient& endpoint, std::uint32_t source) {
    FeedStream(*cache_, endpoint, source);
}

void TCPOperNetwork::ServeOperators() {
    {
        std::lock_guard<std::mutex> hold(operatorMutex_);
        walk_.clear();
        for (auto& entry : operators_) {
            walk_.push_back(entry.second.get());
        }
    }
    // Clients are only removed when the link is destroyed, after this thread has ended.
    for (OperClient* client : walk_) {
        client->Recv();
        // An operator's packets are filed under its connection's address (its id).
        FeedCache(*client, client->Peer().sin_addr.s_addr);
    }
}

void TCPOperNetwork::ServerMain() {
    if (!Initialize(address_.c_str())) {
        state_.store(kFailed);
        return;
    }
    net::sock_t dataSocket = dataEndpoint_.Socket();
    net::sock_t configSocket = configEndpoint_.Socket();
    SetOptNodelay(dataSocket);
    SetOptNodelay(configSocket);
    if (dataSocket < 0 || configSocket < 0) {
        state_.store(kFailed);
        return;
    }
    gNetworkState.store(kLinkRunning);
    std::int32_t starting = kStarting;
    state_.compare_exchange_strong(starting, kRunning);
    LinkWake wake(gConfigBuffer);
    while (state_.load() < kStopRequested && configEndpoint_.Socket() >= 0 &&
           dataEndpoint_.Socket() >= 0) {
        const long sent = configEndpoint_.Send();
        // Each call returns the bytes held once it read something, 0 when it read nothing.
        bool received = configEndpoint_.RecvFromNetwork(0) > 0;
        received = dataEndpoint_.RecvFromNetwork(0) > 0 || received;
        FeedCache(configEndpoint_, kKestNoSource);
        FeedCache(dataEndpoint_, kKestNoSource);
        ServeOperators();
        if (configEndpoint_.Socket() < 0 || dataEndpoint_.Socket() < 0) {
            break;
        }
        // Operators' sockets are looked at every pass, not waited on: with operators
        // connected, or a send that would have blocked, the link sleeps no longer than it
        // lets data gather.
        const int sockets[2] = {dataEndpoint_.Socket(), configEndpoint_.Socket()};
        wake.AfterPass(sent > 0, received, sockets, 2,
                       walk_.empty() && sent == 0 ? LinkWake::kIdleWait : LinkWake::kGatherTime);
    }
    gNetworkState.store(kLinkStopped);
    std::int32_t state = state_.load();
    while (state != kFailed && !state_.compare_exchange_weak(state, kEnded)) {
    }
}

bool TCPOperNetwork::StartUp() {
    if (thread_.joinable()) {
        return false;
    }
    ResetRings();
    configEndpoint_.SetReadPosition(0);
    dataEndpoint_.SetReadPosition(0);
    state_.store(kStarting);
    thread_ = std::thread([this] { ServerMain(); });
    // The thread leaves the starting state within the two bounded connect attempts.
    while (state_.load() == kStarting) {
        std::this_thread::sleep_for(std::chrono::microseconds(10));
    }
    if (state_.load() == kRunning) {
        return true;
    }
    thread_.join();
    return false;
}

bool TCPOperNetwork::ConnectOperator(const char* address, int timeoutMs) {
    sockaddr_in peer;
    if (address == nullptr || !MakeAddress(address, config_.OperatorPort(), &peer) ||
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
    std::lock_guard<std::mutex> hold(operatorMutex_);
    auto found = operators_.find(id);
    if (found != operators_.end()) {
        if (found->second->Connected()) {
            // The first connection stays; this one closes with `socket`.
            return true;
        }
        // A connection that has gone is replaced. The old client may still be in a walk of
        // the link thread, so it is kept (closed) until the link goes.
        retired_.push_back(std::move(found->second));
        operators_.erase(found);
    }
    auto ring = std::make_unique<CircularKestBuffer>(kKestRingCapacity, "quillon");
    auto client = std::make_unique<OperClient>(socket.Release(), *ring, peer);
    operatorRings_.push_back(std::move(ring));
    operators_.emplace(id, std::move(client));
    return true;
}

OperClient* TCPOperNetwork::FindOperator(std::uint32_t id) {
    std::lock_guard<std::mutex> hold(operatorMutex_);
    auto found = operators_.find(id);
    return found == operators_.end() ? nullptr : found->second.get();
}

std::uint32_t TCPOperNetwork::FirstConnectedOperator() {
    std::lock_guard<std::mutex> hold(operatorMutex_);
    for (auto& entry : operators_) {
        if (entry.second->Connected()) {
            return entry.first;
        }
    }
    return kNoEndpoint;
}

std::vector<std::uint32_t> TCPOperNetwork::OperatorIds() {
    std::lock_guard<std::mutex> hold(operatorMutex_);
    std::vector<std::uint32_t> ids;
    for (auto& entry : operators_) {
        ids.push_back(entry.first);
    }
    return ids;
}

} // namespace OperNetwork
} // namespace Network
