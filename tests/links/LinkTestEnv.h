// Loopback-only settings for the link tests. The network prefixes come from the
// environment (scripts/kest-env.sh) and must be 127.x; the port base is moved per process
// and written back into the environment, where the links read it, so that test binaries
// running side by side never meet.
#pragma once

#include "emulator/server/NetConfig.h"
#include "emulator/server/Server.h"
#include "links/OperNetwork.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

namespace links_test {

// Seconds since `begin` on the monotonic clock.
inline double SecondsSince(std::chrono::steady_clock::time_point begin) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

// How long a call that must end on its own may take before a test calls it hung: far above
// any bound the call keeps, so that neither the thread checker nor a loaded machine trips it.
// How fast a call is belongs in the benchmarks, not in a test.
constexpr double kHangSeconds = 30;

// Polls `done` every millisecond until it holds; false when it still does not after the
// generous `limit`. Tests wait on a condition this way instead of sleeping a fixed time.
template <typename Done>
bool WaitFor(Done done, std::chrono::milliseconds limit = std::chrono::milliseconds(30000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Empty when the environment is safe, else the reason to refuse.
inline std::string LoopbackRefusal() {
    for (const char* name : {"KEST_WIRED_NET", "KEST_WIRELESS_NET"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || !paxsim::IsLoopbackNet(value)) {
            return std::string(name) + "=" + (value ? value : "(unset)") +
                   " is not a loopback network";
        }
    }
    return {};
}

// Sets this process's port base (slot 0-3 give separate bases) and returns the settings.
// Bases stay in 41000-50600, below the Octave, Python and install tests' fixed bases
// (52000 and up), which may run at the same time.
inline paxsim::NetConfig UseLoopbackNet(unsigned slot = 0) {
    paxsim::NetConfig net;
    net.wiredNet = std::getenv("KEST_WIRED_NET");
    net.wirelessNet = std::getenv("KEST_WIRELESS_NET");
    net.portBase = static_cast<std::uint16_t>(41000 + (unsigned(getpid()) % 600) * 16 + slot * 4);
    setenv("KEST_PORT_BASE", std::to_string(net.portBase).c_str(), 1);
    return net;
}

// Handshake bounds for a test that expects its open to succeed: the thread checker on a busy
// machine can take many times the product's bounds to carry the processor's description, so
// the test waits on the handshake as on any other condition, with generous deadlines. Tests of
// the bounds themselves restore the product's (ProductHandshake).
inline void GenerousHandshake() {
    Network::OperNetwork::HandshakeLimits& limits = Network::OperNetwork::Limits();
    limits = Network::OperNetwork::HandshakeLimits();
    limits.startWaitPolls = 600;
    limits.moduleWaitMs = 30000;
    limits.propertyWaitMs = 10000;
}

inline void ProductHandshake() {
    Network::OperNetwork::Limits() = Network::OperNetwork::HandshakeLimits();
}

#define LINKS_REQUIRE_LOOPBACK()                                                                   \
    do {                                                                                           \
        std::string refusal = links_test::LoopbackRefusal();                                       \
        ASSERT_TRUE(refusal.empty()) << "refusing to run: " << refusal;                            \
    } while (0)

// An emulated processor with `frontEnds` front ends on the loopback networks. Its front ends
// stream 1 kS/s samples only unless `raw`: the links' tests need the processor's time, not
// its full data rate, which a link under the thread checker on a busy machine cannot keep up
// with.
inline std::unique_ptr<paxsim::Server>
StartProcessor(const paxsim::NetConfig& net, paxsim::TransportMode mode, unsigned frontEnds = 2,
               std::vector<unsigned> operators = {}, double loss = 0, bool raw = false) {
    paxsim::ServerOptions options;
    options.mode = mode;
    options.loss = loss;
    options.net = net;
    options.operators = std::move(operators);
    paxsim::DataConfig data;
    data.spikeRate = 0;
    data.digitalRate = 0;
    paxsim::ModelConfig model = paxsim::ModelConfig::Default(frontEnds);
    for (paxsim::FrontEndConfig& frontEnd : model.frontEnds) {
        frontEnd.raw = raw;
    }
    auto server = std::make_unique<paxsim::Server>(model, data, options);
    server->Start();
    return server;
}

// Starts and joins one thread, so that helper threads a runtime starts with the first
// thread of a process (the thread checker's) exist before threads are counted.
inline void SettleRuntimeThreads() {
    std::thread([] {}).join();
}

// Entries of a /proc/self directory: "task" counts threads, "fd" open descriptors.
inline int CountEntries(const char* name) {
    DIR* directory = opendir((std::string("/proc/self/") + name).c_str());
    if (directory == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(directory);
    return count - (std::string(name) == "fd" ? 1 : 0); // the directory's own descriptor
}

} // namespace links_test
