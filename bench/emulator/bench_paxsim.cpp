// Emulator load: the cost of generating the data of 16 front ends, and the emulator
// keeping real time over loopback with 16 front ends streaming raw 30 kHz, lfp and
// spikes to one UDP client that drains every datagram.
//
// The loopback run refuses to start unless KEST_WIRED_NET is a 127.x network.
#include "emulator/model/ModelFactory.h"
#include "emulator/server/Fd.h"
#include "emulator/server/Server.h"
#include "emulator/signal/DataGenerator.h"

#include "protocol/KestPacketBuilder.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

using namespace paxsim;

namespace {

// Data of 16 front ends (raw, lfp, spikes at 2 Hz per channel) for 1 s of processor time
// per iteration, generated as fast as possible.
void BM_Generate16FrontEnds(benchmark::State& state) {
    ProcessorModel model(ModelConfig::Default(16));
    DataGenerator generator(model, DataConfig{});
    Outbox out;
    std::uint32_t t = 0;
    std::uint64_t packets = 0;
    for (auto _ : state) {
        for (int ms = 0; ms < 1000; ++ms) {
            out.Clear();
            generator.Generate(t, t + 30, out);
            t += 30;
            packets += out.Packets();
        }
        benchmark::DoNotOptimize(out.Bytes().data());
    }
    // One iteration is one second of processor time: its CPU time is the share of a core.
    state.SetItemsProcessed(std::int64_t(packets));
}
BENCHMARK(BM_Generate16FrontEnds)->Unit(benchmark::kMillisecond);

void BM_RealTime16FrontEndsUdp(benchmark::State& state) {
    const char* wired = std::getenv("KEST_WIRED_NET");
    if (!wired || std::string(wired).rfind("127.", 0) != 0) {
        state.SkipWithError("KEST_WIRED_NET must name a 127.x network (scripts/kest-env.sh)");
        return;
    }
    ServerOptions options;
    options.net = NetConfig::FromEnvironment();
    options.net.portBase = static_cast<std::uint16_t>(options.net.portBase + 100);
    const double seconds = 3.0;
    for (auto _ : state) {
        Server server(ModelConfig::Default(16), DataConfig{}, options);
        server.Start();
        Fd client = BindUdp(MakeAddress("127.0.0.1", options.net.ClientPort()), 1 << 26);
        sockaddr_in to = MakeAddress(options.net.wiredNet + ".1", options.net.ConfigPort());
        std::uint8_t request[12];
        KestBuildRequest(request, sizeof request, 1, 255, 0);
        ::sendto(client.Get(), request, sizeof request, 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
        std::uint64_t received = 0, bytes = 0;
        std::uint8_t buffer[2048];
        auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{client.Get(), POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) {
                continue;
            }
            ssize_t got;
            while ((got = ::recv(client.Get(), buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
                ++received;
                bytes += std::uint64_t(got);
            }
        }
        server.Stop();
        ServerStats s = server.Stats();
        state.counters["packets_per_s"] = double(s.packetsSent) / s.wallSeconds;
        state.counters["datagrams_per_s"] = double(s.datagramsSent) / s.wallSeconds;
        state.counters["received_datagrams_per_s"] = double(received) / s.wallSeconds;
        state.counters["MB_per_s"] = double(s.bytesSent) / s.wallSeconds / 1e6;
        state.counters["server_cpu_share"] = s.threadCpuSeconds / s.wallSeconds;
        state.counters["max_lag_ms"] = double(s.maxLagTicks) / 30.0;
        state.counters["send_failures"] = double(s.datagramsDropped);
    }
}
BENCHMARK(BM_RealTime16FrontEndsUdp)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_RealTime16FrontEndsTcp(benchmark::State& state) {
    const char* wired = std::getenv("KEST_WIRED_NET");
    if (!wired || std::string(wired).rfind("127.", 0) != 0) {
        state.SkipWithError("KEST_WIRED_NET must name a 127.x network (scripts/kest-env.sh)");
        return;
    }
    ServerOptions options;
    options.net = NetConfig::FromEnvironment();
    options.net.portBase = static_cast<std::uint16_t>(options.net.portBase + 110);
    options.mode = TransportMode::Tcp;
    const double seconds = 3.0;
    for (auto _ : state) {
        Server server(ModelConfig::Default(16), DataConfig{}, options);
        server.Start();
        Fd client(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in to = MakeAddress(options.net.wiredNet + ".1", options.net.DataPort());
        if (::connect(client.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            state.SkipWithError("cannot connect to the data stream");
            return;
        }
        std::uint64_t bytes = 0;
        std::vector<std::uint8_t> buffer(1 << 20);
        auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{client.Get(), POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) {
                continue;
            }
            ssize_t got = ::recv(client.Get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (got > 0) {
                bytes += std::uint64_t(got);
            }
        }
        server.Stop();
        ServerStats s = server.Stats();
        state.counters["packets_per_s"] = double(s.packetsSent) / s.wallSeconds;
        state.counters["received_MB_per_s"] = double(bytes) / s.wallSeconds / 1e6;
        state.counters["server_cpu_share"] = s.threadCpuSeconds / s.wallSeconds;
        state.counters["max_lag_ms"] = double(s.maxLagTicks) / 30.0;
    }
}
BENCHMARK(BM_RealTime16FrontEndsTcp)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace
