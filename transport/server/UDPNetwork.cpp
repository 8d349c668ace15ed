#include "transport/server/UDPNetwork.h"

#include "transport/Logger.h"
#include "transport/SocketAddress.h"
#include "transport/SocketOptions.h"
#include "transport/server/ServerFamily.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace Network {

namespace {

constexpr auto kIdleSleep = std::chrono::microseconds(50);

sockaddr_in NoPeer() {
    sockaddr_in address;
    MakeAddress(nullptr, 0, &address);
    return address;
}

// Reads one integer option back; false (logged) when the read fails.
bool ReadBack(net::sock_t socket, int name, int* value) {
    socklen_t length = sizeof *value;
    if (getsockopt(socket, SOL_SOCKET, name, value, &length) != 0) {
        Logger<true>::Printf(LogSubsystem::NET, kLogError, "FAILED (%s)\n", std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace

UDPNetwork::UDPNetwork() : UDPNetwork(gDataBuffer, gConfigBuffer) {}

UDPNetwork::UDPNetwork(CircularKestBuffer& dataRing, CircularKestBuffer& configRing)
    : dataRing_(dataRing), configRing_(configRing),
      configEndpoint_(net::kInvalidSocket, configRing, kUdpChunkLimit, kUdpReceiveCapacity,
                      NoPeer(), OutputClient::kDatagram),
      dataSender_(net::kInvalidSocket, dataRing, kUdpChunkLimit, NoPeer(),
                  OutputClient::kDatagram) {}

UDPNetwork::~UDPNetwork() {
    Shutdown();
}

KestPacket* UDPNetwork::RecvConfigPacket() {
    return configEndpoint_.HasPacket();
}

bool UDPNetwork::DeleteConfigPacket(const KestPacket* packet) {
    return configEndpoint_.DeletePacket(packet);
}

void UDPNetwork::Shutdown() {
    stop_.store(true);
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool UDPNetwork::Start(unsigned short localPort, unsigned short remotePort, const char* address,
                       bool broadcast) {
    if (thread_.joinable()) {
        return false;
    }
    // The rings are reset here, before the thread exists, so that a packet published as
    // soon as Start returns is not wiped by the thread.
    dataRing_.Reset();
    configRing_.Reset();
    configEndpoint_.SetReadPosition(0);
    dataSender_.SetReadPosition(0);
    address_ = address != nullptr ? address : "";
    stop_.store(false);
    startup_.Rearm();
    thread_ = std::thread([this, localPort, remotePort, broadcast] {
        ServerMain(localPort, remotePort, address_.c_str(), broadcast);
        ReportStartup(false); // a thread that ends before reporting did not start
    });
    if (startup_.Wait()) {
        return true;
    }
    thread_.join();
    return false;
}

bool UDPNetwork::Initialize(unsigned short localPort, unsigned short remotePort,
                            const char* address, bool broadcast) {
    sockaddr_in local;
    if (address == nullptr || address[0] == '\0' || !MakeAddress(address, localPort, &local)) {
        Logger<true>::Printf(LogSubsystem::NET, kLogError, "UDP server: bad address '%s'\n",
                             address != nullptr ? address : "");
        return false;
    }
    net::UniqueSocket socket;
    CreateUDPSocket(socket.Handle());
    SetOptReusable(socket.Handle());
    if (!socket.IsOpen() || !SetAllServerOptions(socket.Handle(), broadcast)) {
        return false;
    }
    if (bind(socket.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        char text[16];
        Logger<true>::Printf(LogSubsystem::NET, kLogError, "bind (%s:%d): %s\n",
                             AddressText(local, text, sizeof text), localPort,
                             std::strerror(errno));
        return false;
    }
    sockaddr_in bound;
    socklen_t length = sizeof bound;
    if (getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        return false;
    }
    const unsigned short port = AddressPort(bound);
    net::sock_t duplicate = dup(socket.Get());
    if (duplicate < 0) {
        return false;
    }
    sockaddr_in peer = local;
    peer.sin_port = htons(remotePort != 0 ? remotePort : port);
    dataSender_.Attach(duplicate, peer);
    const net::sock_t configSocket = socket.Release();
    configEndpoint_.Attach(configSocket, peer);
    localPort_.store(port);

    int value = 0;
    if (ReadBack(configSocket, SO_BROADCAST, &value) &&
        ReadBack(configSocket, SO_DONTROUTE, &value) && ReadBack(configSocket, SO_RCVBUF, &value)) {
        receiveBufferSize_.store(value);
        if (ReadBack(configSocket, SO_SNDBUF, &value)) {
            sendBufferSize_.store(value);
        }
    }
    return true;
}

void UDPNetwork::ServerMain(unsigned short localPort, unsigned short remotePort,
                            const char* address, bool broadcast) {
    if (!Initialize(localPort, remotePort, address, broadcast)) {
        ReportStartup(false);
        return;
    }
    gNetworkState.store(kNetworkRunning);
    ReportStartup(true);
    while (!StopRequested()) {
        const long configSent = configEndpoint_.Send();
        const long dataSent = dataSender_.Send();
        const std::uint64_t before = configEndpoint_.Fill();
        const long held = configEndpoint_.RecvFromNetwork(kUdpChunkLimit);
        const bool received = held > 0 && std::uint64_t(held) > before;
        if (configSent <= 0 && dataSent <= 0 && !received) {
            std::this_thread::sleep_for(kIdleSleep);
        }
    }
    configEndpoint_.Close();
    dataSender_.Close();
    gNetworkState.store(kNetworkStopped);
}

} // namespace Network
