#include "transport/ClientFamily.h"

namespace Network {
namespace OperNetwork {

// The rings come first: the load mark below is made after them and unmade before them.
CircularKestBuffer gDataBuffer(kKestRingCapacity, "dataBuffer");
CircularKestBuffer gConfigBuffer(kKestRingCapacity, "configBuffer");
std::atomic<std::int32_t> gCurrentNetwork{kNoLink};
std::atomic<std::int32_t> gNetworkState{kLinkNeverStarted};

namespace {

std::atomic<bool> gStaticsReady{false};

struct LoadMark {
    LoadMark() { gStaticsReady.store(true); }
    ~LoadMark() { gStaticsReady.store(false); }
};

LoadMark gLoadMark;

} // namespace

bool NetworkStaticsReady() {
    return gStaticsReady.load();
}

void ResetRings() {
    gConfigBuffer.Reset();
    gDataBuffer.Reset();
}

} // namespace OperNetwork
} // namespace Network
