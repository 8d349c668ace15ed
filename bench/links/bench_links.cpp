// The connection against the emulated processor over loopback.
//
// BM_OpenHandshake16: one open (link start and handshake until the cache holds every
// module and property) against a processor with 16 front ends; the close is not timed.
// Repeated, so the median of several opens is reported. The first opens of a process also
// pay for the pages of the cache's data rings; they run before the timed ones and the
// first is reported as the counter first_open_ms.
// BM_ConfirmedWrite: one boolean property write confirmed by the processor's echo, on an
// open datagram link.
#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "client/KestSendAndRecv.h"
#include "emulator/server/Server.h"
#include "include/kestlib.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// Loopback networks only; the port base is moved per process.
bool UseLoopback(paxsim::NetConfig* net) {
    const char* wired = std::getenv("KEST_WIRED_NET");
    const char* wireless = std::getenv("KEST_WIRELESS_NET");
    if (wired == nullptr || wireless == nullptr || !paxsim::IsLoopbackNet(wired) ||
        !paxsim::IsLoopbackNet(wireless)) {
        return false;
    }
    net->wiredNet = wired;
    net->wirelessNet = wireless;
    net->portBase = static_cast<std::uint16_t>(50000 + (unsigned(getpid()) % 500) * 8);
    setenv("KEST_PORT_BASE", std::to_string(net->portBase).c_str(), 1);
    return true;
}

std::unique_ptr<paxsim::Server> StartProcessor(benchmark::State& state, unsigned frontEnds) {
    paxsim::NetConfig net;
    if (!UseLoopback(&net)) {
        state.SkipWithError("KEST_WIRED_NET and KEST_WIRELESS_NET must be loopback (127.x)");
        return nullptr;
    }
    paxsim::ServerOptions options;
    options.net = net;
    paxsim::DataConfig data;
    data.spikeRate = 0;
    data.digitalRate = 0;
    auto server =
        std::make_unique<paxsim::Server>(paxsim::ModelConfig::Default(frontEnds), data, options);
    server->Start();
    return server;
}

void BM_OpenHandshake16(benchmark::State& state) {
    auto server = StartProcessor(state, 16);
    if (!server) {
        return;
    }
    static double firstOpenMs = -1;
    if (firstOpenMs < 0) {
        for (int warm = 0; warm < 4; ++warm) {
            const auto begin = std::chrono::steady_clock::now();
            if (kl_open_udp() != KL_SUCCESS) {
                state.SkipWithError("open failed");
                return;
            }
            const auto end = std::chrono::steady_clock::now();
            if (warm == 0) {
                firstOpenMs = std::chrono::duration<double, std::milli>(end - begin).count();
            }
            kl_close();
        }
    }
    state.counters["first_open_ms"] = firstOpenMs;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        const int32_t result = kl_open_udp();
        const auto end = std::chrono::steady_clock::now();
        if (result != KL_SUCCESS) {
            state.SkipWithError("open failed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
        kl_close();
    }
}
BENCHMARK(BM_OpenHandshake16)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ConfirmedWrite(benchmark::State& state) {
    auto server = StartProcessor(state, 2);
    if (!server) {
        return;
    }
    if (kl_open_udp() != KL_SUCCESS) {
        state.SkipWithError("open failed");
        return;
    }
    int module = -1;
    int index = -1;
    if (gKestCache->GetGlobalStimEnable(&module, &index) == nullptr) {
        state.SkipWithError("no stimulation switch to write");
        kl_close();
        return;
    }
    bool value = false;
    std::int64_t failed = 0;
    for (auto _ : state) {
        value = !value;
        if (!KestSendAndRecv(gKestClient, gKestCache, 1000)
                 .SendBool(unsigned(module), unsigned(index), value)) {
            ++failed;
        }
    }
    state.counters["unconfirmed"] = double(failed);
    kl_close();
}
BENCHMARK(BM_ConfirmedWrite)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

} // namespace
