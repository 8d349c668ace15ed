#include "transport/server/ServerFamily.h"

#include "transport/Logger.h"
#include "transport/server/TCPNetwork.h"
#include "transport/server/UDPNetwork.h"

#include <memory>
#include <mutex>

namespace Network {

// The rings come first: the load mark below is made after them, in this order, and
// unmade before them.
CircularKestBuffer gDataBuffer(kKestRingCapacity, "dataBuffer");
CircularKestBuffer gConfigBuffer(kKestRingCapacity, "configBuffer");
std::atomic<std::int32_t> gCurrentNetwork{kNoNetwork};
std::atomic<std::int32_t> gNetworkState{kNetworkNeverStarted};

namespace {

std::atomic<bool> gServerStaticsReady{false};

struct LoadMark {
    LoadMark() { gServerStaticsReady.store(true); }
    ~LoadMark() { gServerStaticsReady.store(false); }
};

std::mutex gControlMutex;
std::unique_ptr<NetworkBase> pNetwork;

// Under gControlMutex: whether a new server may start, destroying a stopped one.
bool MayStart(const char* call) {
    if (!gServerStaticsReady.load()) {
        Logger<true>::Printf(LogSubsystem::NET, kLogError, "%s: network not loaded\n", call);
        return false;
    }
    if (gNetworkState.load() == kNetworkRunning) {
        return false;
    }
    if (pNetwork) {
        pNetwork->Shutdown();
        pNetwork.reset();
    }
    return true;
}

LoadMark gLoadMark;

} // namespace

bool ServerStaticsReady() {
    return gServerStaticsReady.load();
}

bool StartTCP(unsigned short config_port, unsigned short data_port, const char* address) {
    std::lock_guard<std::mutex> lock(gControlMutex);
    if (!MayStart("StartTCP")) {
        return false;
    }
    auto server = std::make_unique<TCPNetwork>(config_port, data_port, address);
    if (!server->Start()) {
        return false;
    }
    pNetwork = std::move(server);
    gCurrentNetwork.store(kTCPNetwork);
    return true;
}

bool StartUDP(unsigned short port, unsigned short second_port, const char* address,
              bool broadcast) {
    std::lock_guard<std::mutex> lock(gControlMutex);
    if (!MayStart("StartUDP")) {
        return false;
    }
    auto server = std::make_unique<UDPNetwork>();
    if (!server->Start(port, second_port, address, broadcast)) {
        return false;
    }
    pNetwork = std::move(server);
    gCurrentNetwork.store(kUDPNetwork);
    return true;
}

void NetworkShutdown() {
    std::lock_guard<std::mutex> lock(gControlMutex);
    if (pNetwork) {
        pNetwork->Shutdown();
        pNetwork.reset();
    }
    gCurrentNetwork.store(kNoNetwork);
    gNetworkState.store(kNetworkStopped);
}

NetworkBase* RunningServer() {
    std::lock_guard<std::mutex> lock(gControlMutex);
    return pNetwork.get();
}

KestPacket* NewDataPacket(std::size_t size) {
    return reinterpret_cast<KestPacket*>(gDataBuffer.Reserve(size));
}

void SendDataPacket(KestPacket* /*packet*/) {
    gDataBuffer.Publish();
}

KestPacket* NewConfigPacket(std::size_t size) {
    return reinterpret_cast<KestPacket*>(gConfigBuffer.Reserve(size));
}

void SendConfigPacket(KestPacket* /*packet*/) {
    gConfigBuffer.Publish();
}

KestPacket* RecvConfigPacket() {
    std::lock_guard<std::mutex> lock(gControlMutex);
    return pNetwork ? pNetwork->RecvConfigPacket() : nullptr;
}

bool DeleteConfigPacket(const KestPacket* packet) {
    std::lock_guard<std::mutex> lock(gControlMutex);
    return pNetwork ? pNetwork->DeleteConfigPacket(packet) : false;
}

} // namespace Network
