#include "links/OperNetwork.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "links/LinkCache.h"
#include "links/NetConfig.h"
#include "links/OperRegistry.h"
#include "links/TCPOperNetwork.h"
#include "links/UDPOperNetwork.h"
#include "transport/ClientFamily.h"
#include "transport/Logger.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace Network {
namespace OperNetwork {

namespace {

std::unique_ptr<NetworkBase> pNetwork;

// The property index that asks for every property of a module, and the processor's
// request of every module descriptor.
constexpr unsigned kAllProperties = 0xFFFF;
constexpr unsigned kAllModules = 255;
constexpr unsigned kMaxTrialOperators = 10;

using Clock = std::chrono::steady_clock;

void SleepMs(unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void PollPause() {
    std::this_thread::sleep_for(std::chrono::microseconds(Limits().pollUs));
}

bool ReadConfig(NetConfig* config) {
    std::string error;
    if (!NetConfig::FromEnvironment(config, &error)) {
        Logger<true>::LogPrintf(LogSubsystem::NET, kLogError, "network settings: %s\n",
                                error.c_str());
        return false;
    }
    return true;
}

// Makes the cache and the configuration sender of a new connection.
void MakeConnectionObjects() {
    delete gKestClient;
    gKestClient = nullptr;
    delete gKestCache;
    gKestCache = new LinkCache();
    gKestClient = new KestClient(nullptr, &oper::LinkRoutes(), gKestCache);
}

// The connection's cache as this module made it; null for a cache made elsewhere.
LinkCache* Cache() {
    return dynamic_cast<LinkCache*>(gKestCache);
}

bool MayStart() {
    return NetworkStaticsReady() && gNetworkState.load() != kLinkRunning && !pNetwork;
}

} // namespace

HandshakeLimits& Limits() {
    static HandshakeLimits limits;
    return limits;
}

NetworkBase* CurrentNetwork() {
    return pNetwork.get();
}

TCPOperNetwork* CurrentTCPNetwork() {
    return gCurrentNetwork.load() == kTcpLink ? static_cast<TCPOperNetwork*>(pNetwork.get())
                                              : nullptr;
}

NetworkBase* CreateUDPOperNetwork(const char* address) {
    gCurrentNetwork.store(kUdpLink);
    NetConfig config;
    if (!ReadConfig(&config)) {
        return nullptr;
    }
    MakeConnectionObjects();
    auto link = std::make_unique<UDPOperNetwork>(gKestCache, address, config);
    if (!link->StartUp()) {
        return nullptr;
    }
    return link.release();
}

bool StartUDPOper(const char* address) {
    if (!MayStart()) {
        return false;
    }
    pNetwork.reset(CreateUDPOperNetwork(address));
    return pNetwork != nullptr;
}

NetworkBase* CreateTCPOperNetwork(const char* address) {
    gCurrentNetwork.store(kTcpLink);
    NetConfig config;
    if (!ReadConfig(&config)) {
        return nullptr;
    }
    MakeConnectionObjects();
    auto link = std::make_unique<TCPOperNetwork>(gKestCache, address, config);
    if (!link->StartUp()) {
        return nullptr;
    }
    return link.release();
}

bool StartTCPOper(const char* address) {
    if (!MayStart()) {
        return false;
    }
    pNetwork.reset(CreateTCPOperNetwork(address));
    return pNetwork != nullptr;
}

bool InitModules() {
    if (gKestClient == nullptr || gKestCache == nullptr) {
        return false;
    }
    const auto resendEvery = std::chrono::milliseconds(Limits().moduleResendMs);
    gKestClient->RequestProperty(kKestAllProcessors, 0, 0);
    gKestClient->RequestProperty(kKestProcessorId, kAllModules, 0);
    auto resend = Clock::now() + resendEvery;
    int step = 0;
    // A processor that keeps answering is given more time (a busy machine answers slowly but
    // steadily); one that stays silent fails at the phase's bound as before.
    const auto wait = std::chrono::milliseconds(Limits().moduleWaitMs);
    const auto cap = Clock::now() + wait * Limits().progressFactor;
    auto deadline = Clock::now() + wait;
    std::size_t known = 0;
    // Descriptors lost once some have arrived are asked for again as missing properties are
    // (see InitProperties): after a short quiet spell, growing, at most as often.
    auto quietFor =
        std::chrono::milliseconds(std::min(Limits().propertyResendMs, Limits().moduleWaitMs));
    auto lastChange = Clock::now();
    unsigned asked = 1;
    do {
        const std::size_t modules = gKestCache->GetProgress().modules;
        if (modules > known) {
            known = modules;
            lastChange = Clock::now();
            deadline = std::max(deadline, std::min(cap, Clock::now() + wait));
        }
        if (modules != 0 && asked < Limits().propertyAttempts &&
            Clock::now() >= lastChange + quietFor) {
            gKestClient->RequestProperty(kKestProcessorId, kAllModules, 0);
            step = 0; // the processor module's blocks are asked for again as well
            ++asked;
            quietFor = std::min(std::chrono::milliseconds(wait), quietFor * 2);
            lastChange = Clock::now();
            deadline = std::max(deadline, lastChange + wait);
        }
        // A datagram may be lost (a full receive buffer drops whole datagrams): while no
        // module has answered, the first requests go out again within the phase's bound.
        if (Clock::now() >= resend && modules == 0) {
            gKestClient->RequestProperty(kKestAllProcessors, 0, 0);
            gKestClient->RequestProperty(kKestProcessorId, kAllModules, 0);
            resend = Clock::now() + resendEvery;
        }
        unsigned blocks = 0;
        int processorBlock = -1;
        if (step < 2 && Cache() != nullptr && modules != 0 &&
            Cache()->ProcessorBlocks(&blocks, &processorBlock)) {
            if (step == 0 && blocks > 0) {
                for (unsigned i = 1; i <= blocks; ++i) {
                    gKestClient->RequestProperty(kKestProcessorId, 0, i);
                }
                step = 1;
            } else if (step == 1 && processorBlock >= 0) {
                gKestClient->RequestProperty(kKestProcessorId, 0, unsigned(processorBlock));
                step = 2;
            }
        }
        if (gKestCache->HaveModules()) {
            return true;
        }
        PollPause();
    } while (Clock::now() < deadline);
    return gKestCache->HaveModules();
}

// Asks for every property of each module whose properties have not all arrived, paced so
// that a processor with many front ends is not flooded.
void AskForMissingProperties() {
    for (unsigned module : gKestCache->GetBadModules()) {
        gKestClient->RequestProperty(kKestProcessorId, module, kAllProperties);
        std::this_thread::sleep_for(std::chrono::microseconds(Limits().requestPacingUs));
    }
}

bool InitProperties() {
    if (gKestClient == nullptr || gKestCache == nullptr) {
        return false;
    }
    // The requests go out `propertyAttempts` times in all. Answers lost on the way (a full
    // receive buffer drops whole datagrams) are asked for again once nothing has arrived for
    // a short while, each time twice as long as the last, rather than after a whole round.
    // The phase fails once every request is out and the last one has had its wait, and not
    // before the bound of all rounds; while missing modules keep completing it goes on, up
    // to a cap, as the module phase does.
    const auto wait = std::chrono::milliseconds(Limits().propertyWaitMs);
    const auto start = Clock::now();
    const auto cap = start + wait * Limits().propertyAttempts * Limits().progressFactor;
    auto deadline = start + wait * Limits().propertyAttempts;
    auto quietFor =
        std::chrono::milliseconds(std::min(Limits().propertyResendMs, Limits().propertyWaitMs));
    unsigned asked = 0;
    KestCacheProgress seen = gKestCache->GetProgress();
    auto lastChange = Clock::now();
    for (;;) {
        if (asked < Limits().propertyAttempts &&
            (asked == 0 || Clock::now() >= lastChange + quietFor)) {
            if (asked > 0) {
                quietFor = std::min(std::chrono::milliseconds(wait), quietFor * 2);
            }
            AskForMissingProperties();
            ++asked;
            lastChange = Clock::now();
            deadline = std::max(deadline, lastChange + wait);
        }
        const KestCacheProgress now = gKestCache->GetProgress();
        if (now.complete) {
            return true;
        }
        if (now.incomplete < seen.incomplete) {
            deadline = std::max(deadline, std::min(cap, Clock::now() + wait));
        }
        if (now.incomplete != seen.incomplete || now.properties != seen.properties) {
            seen = now;
            lastChange = Clock::now();
        }
        if (asked >= Limits().propertyAttempts && Clock::now() >= deadline) {
            return gKestCache->HaveProperties();
        }
        PollPause();
    }
}

void SetStimData() {
    if (gKestClient != nullptr && gKestCache != nullptr) {
        gKestClient->SetStimAddr(gKestCache->GetStimAddr());
    }
}

void InitTrialDesc() {
    if (gKestClient == nullptr || gKestCache == nullptr) {
        return;
    }
    // The cache lists the processor ids of the peers that sent a trial descriptor: 150 for
    // every operator, the host part for a processor.
    unsigned ids[kMaxTrialOperators];
    const unsigned count = gKestCache->GetOperators(ids, kMaxTrialOperators);
    for (unsigned i = 0; i < count; ++i) {
        if (ids[i] > 127 && ids[i] < 256) {
            gKestClient->RequestProperty(ids[i], 0, kKestOperatorTrialPropIndex);
        }
    }
}

bool InitKestCache() {
    unsigned polls = 0;
    while (gNetworkState.load() != kLinkRunning) {
        if (polls++ >= Limits().startWaitPolls) {
            Logger<true>::LogPrintf(LogSubsystem::NET, kLogError,
                                    "open: the link did not start within %u ms\n",
                                    Limits().startWaitPolls * 50);
            return false;
        }
        SleepMs(50);
    }
    // A handshake that fails says which step the processor left unanswered.
    if (!InitModules()) {
        if (gKestCache != nullptr && gKestCache->GetProgress().modules == 0) {
            Logger<true>::LogPrintf(LogSubsystem::NET, kLogError,
                                    "open: no module descriptor came from the processor\n");
        } else {
            Logger<true>::LogPrintf(LogSubsystem::NET, kLogError,
                                    "open: the processor's module descriptors stayed incomplete\n");
        }
        return false;
    }
    if (!InitProperties()) {
        const std::size_t missing = gKestCache != nullptr ? gKestCache->GetBadModules().size() : 0;
        Logger<true>::LogPrintf(LogSubsystem::NET, kLogError,
                                "open: the properties of %zu modules stayed incomplete after %u "
                                "requests\n",
                                missing, Limits().propertyAttempts);
        return false;
    }
    SetStimData();
    InitTrialDesc();
    return true;
}

void NetworkShutdown() {
    // A timed task still waiting would send through the sender being torn down.
    if (gKestClient != nullptr) {
        gKestClient->CancelTasks();
    }
    if (pNetwork) {
        pNetwork->Shutdown();
        pNetwork.reset();
    }
    gCurrentNetwork.store(kNoLink);
    gNetworkState.store(kLinkStopped);
    delete gKestClient;
    gKestClient = nullptr;
    delete gKestCache;
    gKestCache = nullptr;
    ResetRings();
}

KestPacket* NewConfigPacket(std::size_t size) {
    return reinterpret_cast<KestPacket*>(gConfigBuffer.Reserve(size));
}

void SendConfigPacket(KestPacket* /*packet*/) {
    gConfigBuffer.Publish();
}

KestPacket* RecvConfigPacket() {
    return pNetwork ? pNetwork->RecvConfigPacket() : nullptr;
}

bool DeleteConfigPacket(const KestPacket* packet) {
    return pNetwork ? pNetwork->DeleteConfigPacket(packet) : false;
}

} // namespace OperNetwork
} // namespace Network
