// Adding operator applications over the stream link and looking endpoints up.
#include "include/kestlib.h"
#include "lib/LibraryGuard.h"

#include "links/OperAddress.h"
#include "links/OperClient.h"
#include "links/OperRegistry.h"
#include "transport/ClientFamily.h"

using kestlib::Guard;
using kestlib::Initialized;
using Network::OperNetwork::kNoEndpoint;

extern "C" {

KL_API int32_t kl_operator_add(int* id, const char* address, const KestConnectionPolicy* policy,
                               const int* timeout_ms) noexcept {
    if (!Initialized("kl_operator_add")) {
        return KL_ERR_NOT_INITIALIZED;
    }
    if (id != nullptr) {
        *id = -1;
    }
    if (Network::OperNetwork::gCurrentNetwork.load() != Network::OperNetwork::kTcpLink) {
        return KL_ERR_INVALID_NETWORK;
    }
    const KestConnectionPolicy usePolicy =
        policy != nullptr ? *policy : KL_DEFAULT_CONNECTION_OPTIONS->policy;
    const int timeout =
        timeout_ms != nullptr ? *timeout_ms : KL_DEFAULT_CONNECTION_OPTIONS->timeout_ms;
    if (address == nullptr || timeout < 0 || usePolicy < KL_PREFER_WIRED ||
        usePolicy > KL_WIRELESS_ONLY) {
        return KL_ERR_INVALID_PARAMETER;
    }
    return Guard([&] {
        const std::uint32_t added = oper::OperAdd(address, usePolicy, timeout);
        Network::OperClient* client = added == kNoEndpoint ? nullptr : oper::FindOperClient(added);
        if (client == nullptr) {
            return KL_ERR_OPERATOR_NOT_FOUND;
        }
        client->RequestTrialDesc();
        client->RequestSignalSelectionDesc();
        if (id != nullptr) {
            *id = static_cast<int>(added);
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_operator_lookup(int* id, const char* address) noexcept {
    if (!Initialized("kl_operator_lookup")) {
        return KL_ERR_NOT_INITIALIZED;
    }
    if (id == nullptr || address == nullptr) {
        return KL_ERR_INVALID_PARAMETER;
    }
    *id = -1;
    return Guard([&] {
        const std::uint32_t found = oper::OperLookup(address);
        if (found == kNoEndpoint) {
            return KL_ERR_OPERATOR_NOT_FOUND;
        }
        *id = static_cast<int>(found);
        return KL_SUCCESS;
    });
}

} // extern "C"
