#include "transport/server/TCPNetwork.h"

#include "transport/Logger.h"
#include "transport/SocketAddress.h"
#include "transport/SocketOptions.h"
#include "transport/server/ServerFamily.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Network {

namespace {

// Binds and listens; false (with the descriptor closed) on failure.
bool BindAndListen(net::UniqueSocket& socket, const sockaddr_in& address, int backlog) {
    CreateTCPSocket(socket.Handle());
    SetOptReusable(socket.Handle());
    SetOptNonblock(socket.Handle());
    if (!socket.IsOpen() ||
        bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(socket.Get(), backlog) != 0) {
        socket.Close();
        return false;
    }
    return true;
}

unsigned short BoundPort(net::sock_t socket) {
    sockaddr_in bound;
    socklen_t length = sizeof bound;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        return 0;
    }
    return AddressPort(bound);
}

// Zero-wait readiness of one descriptor.
bool ReadyNow(net::sock_t socket, short events) {
    if (socket < 0) {
        return false;
    }
    pollfd entry{socket, events, 0};
    return poll(&entry, 1, 0) > 0 && (entry.revents & (events | POLLERR | POLLHUP)) != 0;
}

// Zero-wait readiness of every open client socket; calls act(client) for each ready one.
template <typename Client, typename Act>
void ForEachReady(std::vector<std::unique_ptr<Client>>& clients, short events, Act act) {
    pollfd entries[TCPNetwork::kMaxClients + 1];
    Client* owners[TCPNetwork::kMaxClients + 1];
    nfds_t count = 0;
    for (auto& client : clients) {
        if (client->Socket() >= 0 && count < TCPNetwork::kMaxClients + 1) {
            entries[count] = pollfd{client->Socket(), events, 0};
            owners[count] = client.get();
            ++count;
        }
    }
    if (count == 0 || poll(entries, count, 0) <= 0) {
        return;
    }
    for (nfds_t i = 0; i < count; ++i) {
        if ((entries[i].revents & (events | POLLERR | POLLHUP)) != 0) {
            act(*owners[i]);
        }
    }
}

// Accepts one pending connection; -1 when there is none.
net::sock_t AcceptOne(net::sock_t listener, sockaddr_in* peer) {
    socklen_t length = sizeof *peer;
    return accept(listener, reinterpret_cast<sockaddr*>(peer), &length);
}

} // namespace

TCPNetwork::TCPNetwork(unsigned short configPort, unsigned short dataPort, const char* address)
    : TCPNetwork(configPort, dataPort, address, gDataBuffer, gConfigBuffer) {}

TCPNetwork::TCPNetwork(unsigned short configPort, unsigned short dataPort, const char* address,
                       CircularKestBuffer& dataRing, CircularKestBuffer& configRing)
    : dataRing_(dataRing), configRing_(configRing) {
    addressValid_ = MakeAddress(address, dataPort, &dataAddress_) &&
                    MakeAddress(address, configPort, &configAddress_);
    dataClients_.reserve(kMaxClients);
    configClients_.reserve(kMaxClients);
}

TCPNetwork::~TCPNetwork() {
    Shutdown();
}

bool TCPNetwork::Start() {
    if (thread_.joinable()) {
        return false;
    }
    stop_.store(false);
    startup_.Rearm();
    thread_ = std::thread([this] {
        ServerMain();
        startup_.Report(false);
    });
    if (startup_.Wait()) {
        return true;
    }
    thread_.join();
    return false;
}

void TCPNetwork::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        stop_.store(true);
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool TCPNetwork::Initialize() {
    if (!addressValid_ || !BindAndListen(dataListener_, dataAddress_, kListenBacklog)) {
        Logger<true>::Printf(LogSubsystem::NET, kLogError, "bind_and_listen dataServer failed\n");
        return false;
    }
    if (!BindAndListen(configListener_, configAddress_, kListenBacklog)) {
        Logger<true>::Printf(LogSubsystem::NET, kLogError, "bind_and_listen configServer failed\n");
        dataListener_.Close();
        return false;
    }
    dataPort_.store(BoundPort(dataListener_.Get()));
    configPort_.store(BoundPort(configListener_.Get()));
    return true;
}

void TCPNetwork::ServerMain() {
    if (!Initialize()) {
        startup_.Report(false);
        return;
    }
    gNetworkState.store(kNetworkRunning);
    startup_.Report(true);
    while (!stop_.load()) {
        RemoveDeadClients();
        SendAll();
        RecvAll();
        CheckForConnections();
        std::unique_lock<std::mutex> lock(wakeMutex_);
        wake_.wait_for(lock, kPassInterval, [this] { return stop_.load(); });
    }
    DisconnectAll();
    dataListener_.Close();
    configListener_.Close();
    gNetworkState.store(kNetworkStopped);
}

void TCPNetwork::RemoveDeadClients() {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    dataClients_.erase(std::remove_if(dataClients_.begin(), dataClients_.end(),
                                      [](const auto& client) { return client->Socket() < 0; }),
                       dataClients_.end());
    // A closed config client stays while it still holds a packet the producer may be reading.
    configClients_.erase(std::remove_if(configClients_.begin(), configClients_.end(),
                                        [](const auto& client) {
                                            return client->Socket() < 0 &&
                                                   !client->HoldsWholePacket();
                                        }),
                         configClients_.end());
    dataClientCount_.store(dataClients_.size());
    configClientCount_.store(configClients_.size());
}

void TCPNetwork::SendAll() {
    ForEachReady(configClients_, POLLOUT, [](IOClient& client) { client.Send(); });
    ForEachReady(dataClients_, POLLOUT, [](OutputClient& client) { client.Send(); });
}

void TCPNetwork::RecvAll() {
    ForEachReady(configClients_, POLLIN, [](IOClient& client) { client.RecvFromNetwork(0); });
    CheckDataClientsClosed();
}

void TCPNetwork::CheckDataClientsClosed() {
    ForEachReady(dataClients_, POLLIN, [](OutputClient& client) {
        std::uint8_t discard[512];
        const long got = recv(client.Socket(), discard, sizeof discard, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            client.Close();
        }
    });
}

void TCPNetwork::CheckForConnections() {
    if (ReadyNow(dataListener_.Get(), POLLIN)) {
        ConnectDataClient();
    }
    if (ReadyNow(configListener_.Get(), POLLIN)) {
        ConnectConfigClient();
    }
}

void TCPNetwork::ConnectDataClient() {
    sockaddr_in peer;
    net::UniqueSocket accepted(AcceptOne(dataListener_.Get(), &peer));
    if (!accepted.IsOpen()) {
        return;
    }
    if (dataClients_.size() >= kMaxClients) {
        Logger<false>::Printf(LogSubsystem::NET, kLogWarning,
                              "new connection [data] rejected (too many open connections)\n");
        return;
    }
    net::sock_t socket = dup(accepted.Get());
    accepted.Close();
    // Non-blocking, so that a client that reads slowly cannot stall the others.
    SetOptNonblock(socket);
    if (socket < 0) {
        return;
    }
    auto client = std::make_unique<OutputClient>(socket, dataRing_, kChunkLimit, peer, 0u);
    std::lock_guard<std::mutex> lock(clientsMutex_);
    dataClients_.push_back(std::move(client));
    dataClientCount_.store(dataClients_.size());
}

void TCPNetwork::ConnectConfigClient() {
    sockaddr_in peer;
    net::UniqueSocket accepted(AcceptOne(configListener_.Get(), &peer));
    if (!accepted.IsOpen()) {
        return;
    }
    if (configClients_.size() >= kMaxClients) {
        Logger<false>::Printf(LogSubsystem::NET, kLogWarning,
                              "new connection [config] rejected (too many open connections)\n");
        return;
    }
    net::sock_t socket = dup(accepted.Get());
    accepted.Close();
    SetOptNodelay(socket);
    SetOptNonblock(socket);
    if (socket < 0) {
        return;
    }
    auto client =
        std::make_unique<IOClient>(socket, configRing_, kChunkLimit, kReceiveCapacity, peer, 0u);
    std::lock_guard<std::mutex> lock(clientsMutex_);
    configClients_.push_back(std::move(client));
    configClientCount_.store(configClients_.size());
}

void TCPNetwork::DisconnectAll() {
    // Only the sockets go: packets received before the stop stay to be taken until the
    // server is destroyed.
    for (auto& client : dataClients_) {
        client->Close();
    }
    for (auto& client : configClients_) {
        client->Close();
    }
    dataClientCount_.store(0);
    configClientCount_.store(0);
}

KestPacket* TCPNetwork::RecvConfigPacket() {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    for (auto& client : configClients_) {
        if (KestPacket* packet = client->HasPacket()) {
            return packet;
        }
    }
    return nullptr;
}

bool TCPNetwork::DeleteConfigPacket(const KestPacket* packet) {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    for (auto& client : configClients_) {
        if (client->DeletePacket(packet)) {
            return true;
        }
    }
    return false;
}

} // namespace Network
