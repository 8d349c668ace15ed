// The first open of a process against an emulated processor with 16 front ends that streams
// all the while: it creates every ring of the cache. One open per process, so run the
// program several times; the counter open_ms is that open's time. Loopback only.
#include "emulator/server/Server.h"
#include "include/kestlib.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

void BM_FirstOpen16(benchmark::State& state) {
    paxsim::NetConfig net;
    const char* wired = std::getenv("KEST_WIRED_NET");
    const char* wireless = std::getenv("KEST_WIRELESS_NET");
    if (wired == nullptr || wireless == nullptr || !paxsim::IsLoopbackNet(wired) ||
        !paxsim::IsLoopbackNet(wireless)) {
        state.SkipWithError("KEST_WIRED_NET and KEST_WIRELESS_NET must be loopback (127.x)");
        return;
    }
    net.wiredNet = wired;
    net.wirelessNet = wireless;
    net.portBase = static_cast<std::uint16_t>(50000 + (unsigned(getpid()) % 500) * 8);
    setenv("KEST_PORT_BASE", std::to_string(net.portBase).c_str(), 1);
    paxsim::ServerOptions options;
    options.net = net;
    paxsim::DataConfig data;
    data.spikeRate = 0;
    data.digitalRate = 0;
    paxsim::Server server(paxsim::ModelConfig::Default(16), data, options);
    server.Start();
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        const std::int32_t result = kl_open_udp();
        const auto end = std::chrono::steady_clock::now();
        if (result != KL_SUCCESS) {
            state.SkipWithError("open failed");
            break;
        }
        state.counters["open_ms"] = std::chrono::duration<double, std::milli>(end - begin).count();
        kl_close();
    }
}
BENCHMARK(BM_FirstOpen16)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
