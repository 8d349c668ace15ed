#include "links/UDPOperNetwork.h"

#include "cache/KestCache.h"
#include "links/LinkIntake.h"
#include "links/LinkWake.h"
#include "transport/ClientFamily.h"
#include "transport/Logger.h"
#include "transport/SocketAddress.h"
#include "transport/SocketOptions.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace Network {

namespace {

// Whether a shortfall of the receive buffer has been reported in this process.
std::atomic<bool> gShortfallReported{false};

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

} // namespace

std::string ReceiveBufferShortfall(int wanted, int granted) {
    if (granted >= wanted) {
        return std::string();
    }
    return "UDP link: asked for a receive buffer of " + std::to_string(wanted) +
           " bytes, the system granted " + std::to_string(granted < 0 ? 0 : granted) +
           "; a reader that holds the link up for long may lose data (raise "
           "net.core.rmem_max)";
}

UDPOperNetwork::UDPOperNetwork(KestCache* cache, const char* address, const NetConfig& config)
    : UDPNetwork(OperNetwork::gDataBuffer, OperNetwork::gConfigBuffer), cache_(cache),
      config_(config),
      address_(address != nullptr && address[0] != '\0' ? address : config.BroadcastAddress()),
      senders_{{HostAddress(address_), HostAddress(config.ProcessorAddress(false)),
                HostAddress(config.ProcessorAddress(true))},
               {HostAddress(config.WiredHost(0)), HostAddress(config.WirelessHost(0))}} {}

UDPOperNetwork::~UDPOperNetwork() {
    Shutdown();
}

KestPacket* UDPOperNetwork::RecvConfigPacket() {
    return nullptr;
}

bool UDPOperNetwork::DeleteConfigPacket(const KestPacket* /*packet*/) {
    return false;
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
    receiveSocket_ = std::move(receiver);
    SizeReceiveBuffer();
    return true;
}

void UDPOperNetwork::SizeReceiveBuffer() {
    const int granted = SetOptRecvBufAtLeast(receiveSocket_.Get(), kLinkReceiveBufferWanted);
    const std::string shortfall = ReceiveBufferShortfall(kLinkReceiveBufferWanted, granted);
    if (!shortfall.empty() && !gShortfallReported.exchange(true)) {
        Logger<true>::Printf(LogSubsystem::NET, kLogWarning, "%s\n", shortfall.c_str());
    }
}

bool UDPOperNetwork::FallenBehind(bool behind) const {
    std::uint64_t held = 0;
    std::uint64_t limit = 0;
    if (!ReceiveQueue(receiveSocket_.Get(), &held, &limit)) {
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
    LinkWake wake(configRing_);
    bool behind = false;
    while (!StopRequested()) {
        const long sent = configEndpoint_.Send();
        const bool received = batch_.Receive(receiveSocket_.Get()) > 0;
        if (received) {
            // A batch that leaves slots free has emptied the queue; only a full one may have
            // left much behind it.
            behind = batch_.Full() && FallenBehind(behind);
            std::uint64_t refused = 0;
            const std::size_t skipped = FeedDatagrams(*cache_, batch_, behind, &senders_, &refused);
            if (refused != 0) {
                foreign_.fetch_add(refused, std::memory_order_relaxed);
            }
            if (skipped != 0) {
                skippedData_.fetch_add(skipped, std::memory_order_relaxed);
            }
        }
        // A send that would have blocked is tried again after no longer than data gathers.
        const int socket = receiveSocket_.Get();
        wake.AfterPass(sent > 0, received, &socket, 1,
                       sent == 0 ? LinkWake::kIdleWait : LinkWake::kGatherTime);
    }
    configEndpoint_.Close();
    receiveSocket_.Close();
    OperNetwork::gNetworkState.store(OperNetwork::kLinkStopped);
}

} // namespace Network
