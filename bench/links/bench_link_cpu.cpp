// The datagram link's own cost at full load: 16 front ends of 32 raw channels at 30 kHz
// (18 samples to a datagram, about 26,700 datagrams a second) sent over loopback to a link
// whose cache holds a 16-front-end model. Each iteration sends one second of data, paced
// per millisecond, and waits until the link has emptied its socket.
//
// link_cpu_us_per_datagram: the process's CPU time less the sending thread's, per datagram
// sent; link_cpu_share: the same as a share of one core at the full rate.
#include "cache/KestCache.h"
#include "links/NetConfig.h"
#include "links/UDPOperNetwork.h"
#include "tests/cache/TestModel.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned kFrontEnds = 16;
constexpr unsigned kSamplesPerDatagram = 18;
constexpr unsigned kRate = 30000;
constexpr unsigned kDatagramsPerSecond = kFrontEnds * kRate / kSamplesPerDatagram;

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

bool QueueEmpty(int socket) {
    std::uint32_t info[9] = {};
    socklen_t length = sizeof info;
    return getsockopt(socket, SOL_SOCKET, SO_MEMINFO, info, &length) == 0 && info[0] == 0;
}

void BM_LinkCpuPerDatagram(benchmark::State& state) {
    const char* wired = std::getenv("KEST_WIRED_NET");
    if (wired == nullptr || std::strncmp(wired, "127.", 4) != 0) {
        state.SkipWithError("KEST_WIRED_NET must be loopback (127.x)");
        return;
    }
    Network::NetConfig config;
    config.wiredNet = wired;
    config.wirelessNet = wired;
    config.portBase = static_cast<std::uint16_t>(50000 + (unsigned(getpid()) % 500) * 8);

    KestCache cache(CacheRingSizes{30000, 1024});
    testmodel::Processor model(kFrontEnds);
    for (const testmodel::Bytes& packet : model.DescribePackets()) {
        cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
    }
    if (!cache.IsInit()) {
        state.SkipWithError("model not complete");
        return;
    }
    Network::UDPOperNetwork link(&cache, "127.0.0.1", config);
    if (!link.StartUp()) {
        state.SkipWithError("link did not start");
        return;
    }
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(config.UdpLocalPort());
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);

    // One datagram per front end and time step, rebuilt with its times before it is sent.
    std::vector<testmodel::Bytes> datagrams(kFrontEnds);
    const std::vector<std::int16_t> values(32, 100);
    std::uint32_t time = 10000;
    auto build = [&](unsigned frontEnd, std::uint32_t start) {
        testmodel::Bytes& datagram = datagrams[frontEnd];
        datagram.clear();
        for (unsigned s = 0; s < kSamplesPerDatagram; ++s) {
            const testmodel::Bytes packet =
                testmodel::ContPacket(2 * frontEnd + 1, 1, start + s, values);
            datagram.insert(datagram.end(), packet.begin(), packet.end());
        }
    };

    double linkCpu = 0;
    std::uint64_t sent = 0;
    for (auto _ : state) {
        const double processBefore = ProcessCpuSeconds();
        const double threadBefore = ThreadCpuSeconds();
        auto next = std::chrono::steady_clock::now();
        unsigned owed = 0;
        for (unsigned ms = 0; ms < 1000; ++ms) {
            owed += kDatagramsPerSecond / 1000 + (ms < kDatagramsPerSecond % 1000 ? 1 : 0);
            while (owed >= kFrontEnds) {
                for (unsigned f = 0; f < kFrontEnds; ++f) {
                    build(f, time);
                    if (sendto(sender, datagrams[f].data(), datagrams[f].size(), 0,
                               reinterpret_cast<const sockaddr*>(&to), sizeof to) > 0) {
                        ++sent;
                    }
                }
                time += kSamplesPerDatagram;
                owed -= kFrontEnds;
            }
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
        }
        while (!QueueEmpty(link.ReceiveSocket())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        linkCpu += (ProcessCpuSeconds() - processBefore) - (ThreadCpuSeconds() - threadBefore);
    }
    close(sender);
    state.counters["link_cpu_us_per_datagram"] = sent > 0 ? linkCpu * 1e6 / double(sent) : 0;
    state.counters["link_cpu_share"] = sent > 0 ? linkCpu / double(sent) * kDatagramsPerSecond : 0;
    state.counters["datagrams"] = double(sent);
}
BENCHMARK(BM_LinkCpuPerDatagram)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
