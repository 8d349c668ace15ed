// The processor presence probe: a TCP connect to the processor's presence port, bounded by
// the caller's timeout, without opening a connection.
#include "include/kestlib.h"
#include "lib/LibraryGuard.h"

#include "links/NetConfig.h"
#include "links/TimedConnect.h"
#include "transport/SocketAddress.h"
#include "transport/SocketOptions.h"

#include <string>

namespace {

enum class Probe { Found, NotFound, NotMade };

Probe ProbeOnce(const std::string& address, unsigned short port, int timeoutMs) {
    sockaddr_in peer;
    if (!Network::MakeAddress(address.c_str(), port, &peer)) {
        return Probe::NotMade;
    }
    net::UniqueSocket socket;
    Network::CreateTCPSocket(socket.Handle());
    Network::SetOptReusable(socket.Handle());
    if (!socket.IsOpen()) {
        return Probe::NotMade;
    }
    const int result = Network::ConnectWithin(socket.Get(), peer, timeoutMs);
    if (result == Network::kConnectNotMade) {
        return Probe::NotMade;
    }
    return result == 0 ? Probe::Found : Probe::NotFound;
}

} // namespace

extern "C" KL_API int32_t kl_processor_status(int* found,
                                              const KestConnectionOptions* options) noexcept {
    if (found == nullptr) {
        return KL_ERR_INVALID_PARAMETER;
    }
    if (options == nullptr) {
        options = KL_DEFAULT_STATUS_CONNECTION_OPTIONS;
    }
    if (options->use_udp != 0) {
        return KL_ERR_UNSUPPORTED;
    }
    if (options->timeout_ms < 0 || options->policy < KL_PREFER_WIRED ||
        options->policy > KL_WIRELESS_ONLY) {
        return KL_ERR_INVALID_PARAMETER;
    }
    return kestlib::Guard([&] {
        Network::NetConfig config;
        if (!Network::NetConfig::FromEnvironment(&config, nullptr)) {
            return KL_ERR_INVALID_NETWORK;
        }
        const bool wirelessFirst =
            options->policy == KL_PREFER_WIRELESS || options->policy == KL_WIRELESS_ONLY;
        const bool second =
            options->policy == KL_PREFER_WIRED || options->policy == KL_PREFER_WIRELESS;
        Probe result = ProbeOnce(config.ProcessorAddress(wirelessFirst), config.ProbePort(),
                                 options->timeout_ms);
        // A prefer policy tries the other network when the first probe could not be made
        // or found nothing there.
        if (second && result != Probe::Found) {
            const Probe other = ProbeOnce(config.ProcessorAddress(!wirelessFirst),
                                          config.ProbePort(), options->timeout_ms);
            if (other != Probe::NotMade || result == Probe::NotMade) {
                result = other;
            }
        }
        if (result == Probe::NotMade) {
            return KL_ERR_UNKNOWN;
        }
        *found = result == Probe::Found ? 1 : 0;
        return KL_SUCCESS;
    });
}
