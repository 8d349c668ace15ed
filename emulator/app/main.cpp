// paxsim: the emulated processor as a program.
#include "emulator/server/CommandLine.h"
#include "emulator/server/ControlChannel.h"
#include "emulator/server/Server.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <thread>

namespace {

std::atomic<bool> gQuit{false};

void OnSignal(int) {
    gQuit = true;
}

} // namespace

int main(int argc, char** argv) {
    try {
        paxsim::CommandLine cl =
            paxsim::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        if (cl.help) {
            std::fputs(paxsim::CommandLineUsage(), stdout);
            return 0;
        }
        paxsim::Server server(cl.model, cl.data, cl.server);
        server.WithModel([&](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            model.SetEchoMode(cl.echo);
            model.SetEchoDelay(cl.echoDelayMs * 30);
        });
        server.Start();
        paxsim::ControlChannel control(server, [] { gQuit = true; });
        if (cl.controlPort != 0) {
            control.Start(cl.controlAddress, cl.controlPort);
        }
        std::signal(SIGINT, OnSignal);
        std::signal(SIGTERM, OnSignal);
        const char* modes[] = {"udp", "tcp", "udp+tcp"};
        std::fprintf(stderr, "paxsim: processor at %s (%s, port base %u), %zu front ends%s\n",
                     server.ProcessorAddress().c_str(), modes[int(cl.server.mode)],
                     unsigned(cl.server.net.portBase), cl.model.frontEnds.size(),
                     cl.controlPort ? ", control channel open" : "");
        auto begin = std::chrono::steady_clock::now();
        while (!gQuit.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            if (cl.seconds > 0 && elapsed >= cl.seconds) {
                break;
            }
        }
        control.Stop();
        server.Stop();
        if (!cl.quiet) {
            paxsim::ServerStats s = server.Stats();
            double wall = s.wallSeconds > 0 ? s.wallSeconds : 1;
            std::fprintf(stderr,
                         "paxsim: %.1f s, %llu packets (%.0f/s), %llu datagrams (%.0f/s), "
                         "%.1f MB, server thread CPU %.1f %%, largest lag %u ticks\n",
                         s.wallSeconds, (unsigned long long)s.packetsSent,
                         double(s.packetsSent) / wall, (unsigned long long)s.datagramsSent,
                         double(s.datagramsSent) / wall, double(s.bytesSent) / 1e6,
                         100.0 * s.threadCpuSeconds / wall, s.maxLagTicks);
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
