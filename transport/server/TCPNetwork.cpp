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
    : m_dataRing(dataRing), m_configRing(configRing) {
    m_addressValid = MakeAddress(address, dataPort, &m_dataAddress) &&
                     MakeAddress(address, configPort, &m_configAddress);
    m_dataClients.reserve(kMaxClients);
    m_configClients.reserve(kMaxClients);
}

TCPNetwork::~TCPNetwork() {
    Shutdown();
}

bool TCPNetwork::Start() {
    if (m_thread.joinable()) {
        return false;
    }
    m_stop.store(false);
    m_startup.Rearm();
    m_thread = std::thread([this] {
        ServerMain();
        m_startup.Report(false);
    });
    if (m_startup.Wait()) {
        return true;
    }
    m_thread.join();
    return false;
}

void TCPNetwork::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_stop.store(true);
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool TCPNetwork::Initialize() {
    if (!m_addressValid || !BindAndListen(m_dataListener, m_dataAddress, kListenBacklog)) {
        Logger<true>::Printf(LogSubsystem::NET, kLogError, "bind_and_listen dataServer failed\n");
        return false;
    }
    if (!BindAndListen(m_configListener, m_configAddress, kListenBacklog)) {
        Logger<true>::Printf(LogSubsystem::NET, kLogError, "bind_and_listen configServer failed\n");
        m_dataListener.Close();
        return false;
    }
    m_dataPort.store(BoundPort(m_dataListener.Get()));
    m_configPort.store(BoundPort(m_configListener.Get()));
    return true;
}

void TCPNetwork::ServerMain() {
    if (!Initialize()) {
        m_startup.Report(false);
        return;
    }
    gNetworkState.store(kNetworkRunning);
    m_startup.Report(true);
    while (!m_stop.load()) {
        RemoveDeadClients();
        SendAll();
        RecvAll();
        CheckForConnections();
        std::unique_lock<std::mutex> lock(m_wakeMutex);
        m_wake.wait_for(lock, kPassInterval, [this] { return m_stop.load(); });
    }
    DisconnectAll();
    m_dataListener.Close();
    m_configListener.Close();
    gNetworkState.store(kNetworkStopped);
}

void TCPNetwork::RemoveDeadClients() {
    std::lock_guard<std::mutex> lock(m_clientsMutex);
    m_dataClients.erase(std::remove_if(m_dataClients.begin(), m_dataClients.end(),
                                       [](const auto& client) { return client->Socket() < 0; }),
                        m_dataClients.end());
    // A closed config client stays while it still holds a packet the producer may be reading.
    m_configClients.erase(std::remove_if(m_configClients.begin(), m_configClients.end(),
                                         [](const auto& client) {
                                             return client->Socket() < 0 &&
                                                    !client->HoldsWholePacket();
                                         }),
                          m_configClients.end());
    m_dataClientCount.store(m_dataClients.size());
    m_configClientCount.store(m_configClients.size());
}

void TCPNetwork::SendAll() {
    ForEachReady(m_configClients, POLLOUT, [](IOClient& client) { client.Send(); });
    ForEachReady(m_dataClients, POLLOUT, [](OutputClient& client) { client.Send(); });
}

void TCPNetwork::RecvAll() {
    ForEachReady(m_configClients, POLLIN, [](IOClient& client) { client.RecvFromNetwork(0); });
    CheckDataClientsClosed();
}

void TCPNetwork::CheckDataClientsClosed() {
    ForEachReady(m_dataClients, POLLIN, [](OutputClient& client) {
        std::uint8_t discard[512];
        const long got = recv(client.Socket(), discard, sizeof discard, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            client.Close();
        }
    });
}

void TCPNetwork::CheckForConnections() {
    if (ReadyNow(m_dataListener.Get(), POLLIN)) {
        ConnectDataClient();
    }
    if (ReadyNow(m_configListener.Get(), POLLIN)) {
        ConnectConfigClient();
    }
}

void TCPNetwork::ConnectDataClient() {
    sockaddr_in peer;
    net::UniqueSocket accepted(AcceptOne(m_dataListener.Get(), &peer));
    if (!accepted.IsOpen()) {
        return;
    }
    if (m_dataClients.size() >= kMaxClients) {
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
    auto client = std::make_unique<OutputClient>(socket, m_dataRing, kChunkLimit, peer, 0u);
    std::lock_guard<std::mutex> lock(m_clientsMutex);
    m_dataClients.push_back(std::move(client));
    m_dataClientCount.store(m_dataClients.size());
}

void TCPNetwork::ConnectConfigClient() {
    sockaddr_in peer;
    net::UniqueSocket accepted(AcceptOne(m_configListener.Get(), &peer));
    if (!accepted.IsOpen()) {
        return;
    }
    if (m_configClients.size() >= kMaxClients) {
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
        std::make_unique<IOClient>(socket, m_configRing, kChunkLimit, kReceiveCapacity, peer, 0u);
    std::lock_guard<std::mutex> lock(m_clientsMutex);
    m_configClients.push_back(std::move(client));
    m_configClientCount.store(m_configClients.size());
}

void TCPNetwork::DisconnectAll() {
    // Only the sockets go: packets received before the stop stay to be taken until the
    // server is destroyed.
    for (auto& client : m_dataClients) {
        client->Close();
    }
    for (auto& client : m_configClients) {
        client->Close();
    }
    m_dataClientCount.store(0);
    m_configClientCount.store(0);
}

KestPacket* TCPNetwork::RecvConfigPacket() {
    std::lock_guard<std::mutex> lock(m_clientsMutex);
    for (auto& client : m_configClients) {
        if (KestPacket* packet = client->HasPacket()) {
            return packet;
        }
    }
    return nullptr;
}

bool TCPNetwork::DeleteConfigPacket(const KestPacket* packet) {
    std::lock_guard<std::mutex> lock(m_clientsMutex);
    for (auto& client : m_configClients) {
        if (client->DeletePacket(packet)) {
            return true;
        }
    }
    return false;
}

} // namespace Network
