#include "links/OperRegistry.h"

#include "cache/KestCache.h"
#include "client/Connection.h"
#include "links/NetConfig.h"
#include "links/OperAddress.h"
#include "links/OperClient.h"
#include "links/OperNetwork.h"
#include "links/TCPOperNetwork.h"
#include "transport/ClientFamily.h"

#include <string>
#include <vector>

using Network::OperNetwork::CurrentTCPNetwork;
using Network::OperNetwork::EndpointId;
using Network::OperNetwork::kNoEndpoint;
using Network::OperNetwork::ShortAddressCandidates;
using Network::OperNetwork::ShortAddressUse;
using Network::OperNetwork::TCPOperNetwork;

namespace oper {

namespace {

Network::NetConfig Config() {
    Network::NetConfig config;
    Network::NetConfig::FromEnvironment(&config, nullptr);
    return config;
}

class Routes : public KestOperatorRoutes {
  public:
    bool IsDirectLink() const override { return CurrentTCPNetwork() == nullptr; }
    bool SendToOperator(std::uint32_t address, const KestPacket& packet) override {
        Network::OperClient* client = FindOperClient(address);
        return client != nullptr && client->SendPacket(packet);
    }
    unsigned SendToAllOperators(const KestPacket& packet) override {
        TCPOperNetwork* link = CurrentTCPNetwork();
        if (link == nullptr) {
            return 0;
        }
        unsigned taken = 0;
        for (std::uint32_t id : link->OperatorIds()) {
            Network::OperClient* client = link->FindOperator(id);
            if (client != nullptr && client->SendPacket(packet)) {
                ++taken;
            }
        }
        return taken;
    }
};

bool CacheKnows(std::uint32_t id) {
    return gKestCache != nullptr && gKestCache->CheckProcID(id);
}

} // namespace

std::uint32_t OperAdd(const char* address, KestConnectionPolicy policy, int timeout_ms) {
    TCPOperNetwork* link = CurrentTCPNetwork();
    if (link == nullptr) {
        return kNoEndpoint;
    }
    for (const std::string& candidate :
         ShortAddressCandidates(address, policy, Config(), ShortAddressUse::Connect)) {
        if (link->ConnectOperator(candidate.c_str(), timeout_ms)) {
            return EndpointId(candidate.c_str());
        }
    }
    return kNoEndpoint;
}

std::uint32_t OperLookup(const char* address) {
    TCPOperNetwork* link = CurrentTCPNetwork();
    const ShortAddressUse use =
        link == nullptr ? ShortAddressUse::LookupUdp : ShortAddressUse::LookupTcp;
    for (const std::string& candidate :
         ShortAddressCandidates(address, KL_DEFAULT_CONNECTION_OPTIONS->policy, Config(), use)) {
        const std::uint32_t id = EndpointId(candidate.c_str());
        if (id == kNoEndpoint) {
            continue;
        }
        if (link == nullptr || OperIsProcessor(id)) {
            if (CacheKnows(id)) {
                return id;
            }
        } else if (link->FindOperator(id) != nullptr) {
            return id;
        }
    }
    return kNoEndpoint;
}

Network::OperClient* FindOperClient(std::uint32_t id) {
    TCPOperNetwork* link = CurrentTCPNetwork();
    return link == nullptr ? nullptr : link->FindOperator(id);
}

bool OperIsValid(std::uint32_t id) {
    if (CurrentTCPNetwork() == nullptr || OperIsProcessor(id)) {
        return true;
    }
    Network::OperClient* client = FindOperClient(id);
    return client != nullptr && client->Connected();
}

std::uint32_t OperFirstKestClient() {
    TCPOperNetwork* link = CurrentTCPNetwork();
    if (link == nullptr) {
        return EndpointId(Config().WiredHost(150).c_str());
    }
    return link->FirstConnectedOperator();
}

KestOperatorRoutes& LinkRoutes() {
    static Routes routes;
    return routes;
}

} // namespace oper
