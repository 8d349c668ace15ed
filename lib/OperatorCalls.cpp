// Adding operator applications over the stream link and looking endpoints up.
#include "include/kestlib.h"
#include "lib/LibraryGuard.h"

#include "cache/KestCache.h"
#include "client/Connection.h"
#include "links/OperAddress.h"
#include "links/OperClient.h"
#include "links/OperRegistry.h"
#include "transport/ClientFamily.h"

#include <chrono>
#include <thread>

using kestlib::Guard;
using kestlib::Initialized;
using Network::OperNetwork::kNoEndpoint;

namespace {

// How long an add waits for the operator's answers to its first requests.
constexpr auto kFirstAnswerWait = std::chrono::milliseconds(1000);
constexpr auto kFirstAnswerPoll = std::chrono::milliseconds(2);

// Waits (bounded) until the operator's answers to the add's own requests are in. An operator
// answers requests in order, so once they are in no older answer is still on its way, and a
// call right after the add neither takes one for the answer to its own request nor finds
// the operator without its descriptors.
void AwaitFirstAnswers(std::uint32_t id) {
    const auto deadline = std::chrono::steady_clock::now() + kFirstAnswerWait;
    while (gKestCache != nullptr &&
           (gKestCache->GetTrialDescriptor(id) == nullptr ||
            gKestCache->GetSignalSelectionDescriptor(id) == nullptr) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kFirstAnswerPoll);
    }
}

} // namespace

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
        gKestCache->ResetTrialDescriptor(added);
        gKestCache->ResetSignalSelectionDescriptor(added);
        client->RequestTrialDesc();
        client->RequestSignalSelectionDesc();
        AwaitFirstAnswers(added);
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
