// The emulator over loopback sockets: the start-up handshake of a client, data at true
// rates, echoes, loss, TCP streams, a processor restart and an operator.
#include "LoopbackEnv.h"
#include "ModelDecoder.h"

#include "emulator/model/ModelFactory.h"
#include "emulator/server/ControlChannel.h"
#include "emulator/server/Fd.h"
#include "emulator/server/Server.h"
#include "emulator/signal/SignalModel.h"
#include "protocol/KestPacketBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <functional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace paxsim;
using paxsim_test::ModelDecoder;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::uint8_t> Request(std::uint8_t target, std::uint8_t module, std::uint16_t index) {
    std::vector<std::uint8_t> packet(12);
    KestBuildRequest(packet.data(), packet.size(), target, module, index);
    return packet;
}

std::vector<std::uint8_t> BoolSet(std::uint8_t module, std::uint16_t index, bool value) {
    std::uint8_t record[8] = {1, kKestBoolType, 0, 0, value, 0, 0, 0};
    std::vector<std::uint8_t> packet(20);
    KestBuildConfigPacket(packet.data(), packet.size(), 1, module, index, record, 8, 1);
    return packet;
}

// A client as the library's UDP link is: receive on BASE+1, send to BASE+2.
class UdpClient {
  public:
    explicit UdpClient(const NetConfig& net)
        : fd_(BindUdp(MakeAddress("127.0.0.1", net.ClientPort()), 1 << 22)),
          to_(MakeAddress(net.wiredNet + ".255", net.ConfigPort())) {}

    void Send(const std::vector<std::uint8_t>& packet) {
        ASSERT_EQ(::sendto(fd_.Get(), packet.data(), packet.size(), 0,
                           reinterpret_cast<const sockaddr*>(&to_), sizeof to_),
                  ssize_t(packet.size()));
    }
    // Discards what is queued: a client that stopped reading has a backlog of data in which
    // an answer would wait or, once the socket's buffer is full, be dropped.
    void Drain() {
        std::vector<std::uint8_t> buffer(65536);
        while (::recv(fd_.Get(), buffer.data(), buffer.size(), 0) > 0) {
        }
    }
    // Receives for up to ms milliseconds, or until done() holds.
    void Receive(ModelDecoder& decoder, int ms, const std::function<bool()>& done = {}) {
        auto end = Clock::now() + std::chrono::milliseconds(ms);
        std::vector<std::uint8_t> buffer(65536);
        while (Clock::now() < end && !(done && done())) {
            pollfd p{fd_.Get(), POLLIN, 0};
            if (::poll(&p, 1, 5) <= 0) {
                continue;
            }
            ssize_t got = ::recv(fd_.Get(), buffer.data(), buffer.size(), 0);
            if (got <= 0) {
                continue;
            }
            ++datagrams;
            EXPECT_LE(got, 1440) << "datagrams stay within 1440 bytes";
            std::vector<std::uint8_t> datagram(buffer.begin(), buffer.begin() + got);
            ASSERT_GT(decoder.Feed(datagram), 0) << "datagrams hold whole packets";
        }
    }
    std::size_t datagrams = 0;

  private:
    Fd fd_;
    sockaddr_in to_;
};

void Handshake(UdpClient& client, ModelDecoder& decoder) {
    client.Send(Request(255, 0, 0));
    client.Send(Request(1, 255, 0));
    client.Receive(decoder, 60000, [&] { return decoder.modules.count(34) != 0; });
    ASSERT_NE(decoder.modules[0].Desc(), nullptr);
    for (std::uint16_t i = 1; i <= decoder.modules[0].Desc()->blockCount; ++i) {
        client.Send(Request(1, 0, i));
    }
    client.Receive(decoder, 60000,
                   [&] { return decoder.modules[0].BlockByKind(kKestProcessorBlock) != nullptr; });
    ASSERT_NE(decoder.modules[0].BlockByKind(kKestProcessorBlock), nullptr);
    std::vector<std::uint8_t> ids;
    for (const auto& entry : decoder.modules) {
        ids.push_back(entry.first);
    }
    for (std::uint8_t id : ids) {
        client.Send(Request(1, id, kKestAllPropsIndex));
    }
    auto complete = [&] {
        for (const auto& [id, module] : decoder.modules) {
            if (!module.Desc() || module.records.size() != module.Desc()->propertyCount) {
                return false;
            }
        }
        return true;
    };
    client.Receive(decoder, 60000, complete);
    ASSERT_TRUE(complete());
}

class ServerTest : public ::testing::Test {
  protected:
    void SetUp() override { PAXSIM_REQUIRE_LOOPBACK(); }
};

TEST_F(ServerTest, UdpHandshakeDataAndEchoes) {
    NetConfig net = paxsim_test::LoopbackNet(0);
    ServerOptions options;
    options.net = net;
    DataConfig data;
    data.seed = 3;
    data.spikeRate = 10;
    data.digitalRate = 0;
    Server server(ModelConfig::Default(4), data, options);
    server.Start();
    UdpClient client(net);
    ModelDecoder decoder;
    Handshake(client, decoder);
    EXPECT_EQ(decoder.modules.size(), 11u);

    // Data on the processor's clock: a third of a second of raw samples of module 1 without
    // gaps, and the 1 kS/s stream one sample per 30 raw ones. (How fast the emulator keeps up
    // with the wall clock is a benchmark's matter.)
    ModelDecoder stream;
    client.Receive(stream, 60000, [&] { return stream.dataPackets.size() >= 60000; });
    std::vector<std::uint32_t> raw, lfp;
    std::uint32_t lastModule0 = 0;
    for (const auto& p : stream.dataPackets) {
        const auto& head = *reinterpret_cast<const KestPacket*>(p.data());
        if (head.moduleId == 1 && head.streamId == 1) {
            raw.push_back(head.timestamp);
            std::int16_t sample;
            std::memcpy(&sample, &p[12 + 2 * 5], 2);
            ASSERT_EQ(sample, ContinuousSample(3, ChannelKey(5, 0), head.timestamp));
        } else if (head.moduleId == 2 && head.streamId == 1) {
            lfp.push_back(head.timestamp);
        }
    }
    for (const auto& [index, stamp] : stream.modules[0].stamps) {
        lastModule0 = std::max(lastModule0, stamp);
    }
    ASSERT_GT(raw.size(), 1000u);
    for (std::size_t i = 1; i < raw.size(); ++i) {
        ASSERT_EQ(raw[i], raw[i - 1] + 1) << "raw samples every tick";
    }
    EXPECT_NEAR(double(lfp.size()), double(raw.size()) / 30, 3);
    // What "sent" reports reaches the newest sample received once the pass that sent it has
    // ended, and never passes the clock.
    const auto sentBy = Clock::now() + std::chrono::seconds(30);
    while (std::int32_t(server.DataSentUpTo() - raw.back()) < 0 && Clock::now() < sentBy) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const std::uint32_t sentUpTo = server.DataSentUpTo();
    EXPECT_GE(std::int32_t(sentUpTo - raw.back()), 0);
    EXPECT_LE(std::int32_t(sentUpTo - server.Now()), 0);
    EXPECT_NE(lastModule0, 0u) << "module 0 reports the processor time";
    EXPECT_GT(std::int32_t(lastModule0 - raw.front()), 0) << "heartbeat every 100 ms";

    // A confirmed write gets its echo.
    std::uint16_t led = std::uint16_t(decoder.modules[0].NameIndex("Event LED"));
    // Sent again, as the library's writes are, while no echo comes: the datagram path may drop
    // what a busy client does not read in time.
    ModelDecoder echo;
    for (int attempt = 0; attempt < 30 && echo.modules[0].Record(led) == nullptr; ++attempt) {
        client.Drain();
        client.Send(BoolSet(0, led, true));
        client.Receive(echo, 2000, [&] { return echo.modules[0].Record(led) != nullptr; });
    }
    ASSERT_NE(echo.modules[0].Record(led), nullptr);
    EXPECT_EQ(echo.modules[0].Record(led)->at(4), 1);

    // Requested loss shows up as time gaps of raw and sequence gaps of spikes.
    server.SetLoss(0.2);
    client.Drain(); // what was sent before the loss was asked for
    ModelDecoder lossy;
    client.Receive(lossy, 60000, [&] {
        return lossy.dataPackets.size() >= 60000 && server.Stats().datagramsDropped > 0;
    });
    std::size_t timeGaps = 0, seqGaps = 0;
    std::map<int, std::uint16_t> lastSeq;
    std::uint32_t lastRaw = 0;
    for (const auto& p : lossy.dataPackets) {
        const auto& head = *reinterpret_cast<const KestDataPacket*>(p.data());
        if (head.header.moduleId == 1 && head.header.streamId == 1) {
            timeGaps += lastRaw != 0 && head.header.timestamp != lastRaw + 1;
            lastRaw = head.header.timestamp;
        } else if (head.dataKind == kKestSegmentData) {
            auto it = lastSeq.find(head.header.streamId);
            seqGaps += it != lastSeq.end() && head.flagsOrSeq != std::uint16_t(it->second + 1);
            lastSeq[head.header.streamId] = head.flagsOrSeq;
        }
    }
    EXPECT_GT(timeGaps, 10u);
    EXPECT_GT(seqGaps, 0u);
    EXPECT_GT(server.Stats().datagramsDropped, 0u);
    server.Stop();
}

TEST_F(ServerTest, ErrorsButtonsSilenceAndConfigurationChange) {
    NetConfig net = paxsim_test::LoopbackNet(1);
    ServerOptions options;
    options.net = net;
    DataConfig data;
    data.spikeRate = 0;
    data.digitalRate = 0;
    Server server(ModelConfig::Default(1), data, options);
    server.Start();
    UdpClient client(net);
    // Malformed datagrams (a zero size byte, a packet running past the datagram) are
    // dropped without disturbing what follows.
    client.Send({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    client.Send({200, 0, 0, 0, 0, 0, 0, 0, 1, 255, 0, 0});
    ModelDecoder decoder;
    Handshake(client, decoder);

    client.Drain();
    server.InjectError(7, 1234, "front end lost");
    EXPECT_TRUE(server.PressButton("event"));
    ModelDecoder events;
    client.Receive(events, 60000, [&] { return !events.errorPackets.empty(); });
    ASSERT_EQ(events.errorPackets.size(), 1u);
    EXPECT_EQ(kest::LoadLe<std::uint32_t>(&events.errorPackets[0][16]), 7u);
    std::uint16_t button = std::uint16_t(decoder.modules[0].NameIndex("Event Button"));
    EXPECT_NE(events.modules[0].Record(button), nullptr);

    // Silence: the raw stream shows a time gap of the silence's length.
    server.Silence(300);
    const std::uint32_t until = server.Now() + 300 * 30; // the silence ends before this
    ModelDecoder around;
    std::uint32_t last = 0, widest = 0;
    std::size_t read = 0;
    client.Receive(around, 60000, [&] {
        for (; read < around.dataPackets.size(); ++read) {
            const auto& head =
                *reinterpret_cast<const KestPacket*>(around.dataPackets[read].data());
            if (head.moduleId == 1 && head.streamId == 1) {
                if (last != 0) {
                    widest = std::max(widest, head.timestamp - last);
                }
                last = head.timestamp;
            }
        }
        return last != 0 && std::int32_t(last - until) >= 0;
    });
    EXPECT_GE(widest, 250u * 30);
    // The data before the silence may lag the clock by as much as the emulator fell behind,
    // and by one more pass; the gap is still of the silence's order, not of the window's.
    EXPECT_LE(widest, 300u * 30 + server.Stats().maxLagTicks + 3000);

    EXPECT_EQ(server.ConfigChange(FrontEndKind::Recording), 3);
    ModelDecoder changed;
    bool fromNew = false;
    std::size_t seen = 0;
    client.Receive(changed, 60000, [&] {
        for (; seen < changed.dataPackets.size(); ++seen) {
            fromNew = fromNew || changed.dataPackets[seen][2] == 3;
        }
        return fromNew;
    });
    EXPECT_TRUE(fromNew) << "the new module streams without being announced";
    server.Stop();
}

// Reads whole packets from a TCP stream into the decoder for up to ms milliseconds.
void ReadStream(int fd, ModelDecoder& decoder, int ms, std::vector<std::uint8_t>& pending,
                const std::function<bool()>& done = {}) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    std::uint8_t buffer[65536];
    while (Clock::now() < end && !(done && done())) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5) <= 0) {
            continue;
        }
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return;
        }
        pending.insert(pending.end(), buffer, buffer + got);
        std::size_t at = 0;
        while (at < pending.size() && at + std::size_t(pending[at]) * 4 <= pending.size()) {
            at += std::size_t(pending[at]) * 4;
        }
        std::vector<std::uint8_t> whole(pending.begin(), pending.begin() + std::ptrdiff_t(at));
        pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(at));
        ASSERT_GE(decoder.Feed(whole), 0);
    }
}

Fd Connect(const std::string& address, std::uint16_t port) {
    Fd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in to = MakeAddress(address, port);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        return Fd();
    }
    return fd;
}

bool Closed(int fd, int ms) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    std::uint8_t buffer[65536];
    while (Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5) > 0 && ::recv(fd, buffer, sizeof buffer, 0) <= 0) {
            return true;
        }
    }
    return false;
}

TEST_F(ServerTest, TcpStreamsPresenceAndRestart) {
    NetConfig net = paxsim_test::LoopbackNet(2);
    net.wirelessOnly = true; // only WIRELESS.1: a client must fall back
    ServerOptions options;
    options.net = net;
    options.mode = TransportMode::Tcp;
    options.restartMs = 300;
    DataConfig data;
    data.spikeRate = 0;
    Server server(ModelConfig::Default(2), data, options);
    server.Start();
    EXPECT_FALSE(Connect(net.wiredNet + ".1", net.ConfigPort()).IsOpen());
    std::string address = net.wirelessNet + ".1";
    EXPECT_TRUE(Connect(address, net.PresencePort()).IsOpen());
    Fd config = Connect(address, net.ConfigPort());
    Fd dataStream = Connect(address, net.DataPort());
    ASSERT_TRUE(config.IsOpen() && dataStream.IsOpen());

    auto request = Request(1, 255, 0);
    ASSERT_EQ(::send(config.Get(), request.data(), request.size(), 0), 12);
    ModelDecoder decoder;
    std::vector<std::uint8_t> pending;
    ReadStream(config.Get(), decoder, 60000, pending,
               [&] { return decoder.modules.count(34) != 0; });
    EXPECT_EQ(decoder.modules.size(), 7u);
    for (std::uint8_t module : {0, 3}) {
        auto all = Request(1, module, kKestAllPropsIndex);
        ASSERT_EQ(::send(config.Get(), all.data(), all.size(), 0), 12);
        ReadStream(config.Get(), decoder, 60000, pending, [&] {
            return decoder.modules[module].records.size() ==
                   decoder.modules[module].Desc()->propertyCount;
        });
        EXPECT_EQ(decoder.modules[module].records.size(),
                  decoder.modules[module].Desc()->propertyCount);
    }

    ModelDecoder stream;
    std::vector<std::uint8_t> dataPending;
    ReadStream(dataStream.Get(), stream, 60000, dataPending,
               [&] { return stream.dataPackets.size() >= 10000; });
    std::uint32_t last = 0;
    std::size_t raw = 0;
    for (const auto& p : stream.dataPackets) {
        const auto& head = *reinterpret_cast<const KestPacket*>(p.data());
        if (head.moduleId == 1 && head.streamId == 1) {
            if (raw++ != 0) {
                ASSERT_EQ(head.timestamp, last + 1);
            }
            last = head.timestamp;
        }
    }
    EXPECT_GT(raw, 3000u);

    // The restart trigger drops the connections; the processor comes back.
    int restart = decoder.modules[0].NameIndex("Restart Paxexec Trigger");
    ASSERT_GT(restart, 0);
    auto set = BoolSet(0, std::uint16_t(restart), true);
    ASSERT_EQ(::send(config.Get(), set.data(), set.size(), 0), 20);
    EXPECT_TRUE(Closed(config.Get(), 60000));
    // The processor is silent while it restarts; then it takes connections again.
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while ((server.Stats().restarts == 0 || server.Silent()) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Fd again = Connect(address, net.ConfigPort());
    ASSERT_TRUE(again.IsOpen());
    ASSERT_EQ(::send(again.Get(), request.data(), request.size(), 0), 12);
    ModelDecoder after;
    std::vector<std::uint8_t> pending2;
    ReadStream(again.Get(), after, 60000, pending2, [&] { return after.modules.count(34) != 0; });
    EXPECT_EQ(after.modules.size(), 7u);
    EXPECT_EQ(server.Stats().restarts, 1u);
    server.Stop();
}

TEST_F(ServerTest, OperatorTrialStateMachine) {
    NetConfig net = paxsim_test::LoopbackNet(3);
    ServerOptions options;
    options.net = net;
    options.mode = TransportMode::Tcp;
    options.operators = {130};
    options.operatorSettleMs = 50;
    Server server(ModelConfig::Default(2), DataConfig{}, options);
    server.Start();
    Fd oper = Connect(net.wiredNet + ".130", net.ConfigPort());
    ASSERT_TRUE(oper.IsOpen());
    std::vector<std::uint8_t> ask(12);
    KestBuildRequest(ask.data(), ask.size(), kKestOperatorProcId, 0, kKestOperatorTrialPropIndex);
    ASSERT_EQ(::send(oper.Get(), ask.data(), 12, 0), 12);
    std::vector<std::vector<std::uint8_t>> packets;
    std::vector<std::uint8_t> pending;
    ModelDecoder decoder;
    ReadStream(oper.Get(), decoder, 60000, pending, [&] { return decoder.configPackets > 0; });
    const auto* record = decoder.modules[0].Record(kKestOperatorTrialPropIndex);
    ASSERT_NE(record, nullptr);
    KestRecordingTrialDescriptor trial;
    std::memcpy(&trial, record->data(), sizeof trial);
    EXPECT_EQ(trial.Status(), kKestTrialStopped);

    trial.SetStatus(kKestTrialStartRequested);
    std::vector<std::uint8_t> set(888);
    KestBuildConfigPacket(set.data(), set.size(), kKestOperatorProcId, 0,
                          kKestOperatorTrialPropIndex, &trial, sizeof trial, 1);
    ASSERT_EQ(::send(oper.Get(), set.data(), set.size(), 0), 888);
    auto deadline = Clock::now() + std::chrono::seconds(60);
    while (server.OperatorTrialStatus(130) != kKestTrialRecording && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(server.OperatorTrialStatus(130), kKestTrialRecording);

    std::vector<std::uint8_t> selection(12);
    KestBuildRequest(selection.data(), 12, kKestOperatorProcId, 0,
                     kKestOperatorSignalSelectionPropIndex + 1);
    ASSERT_EQ(::send(oper.Get(), selection.data(), 12, 0), 12);
    ModelDecoder sel;
    ReadStream(oper.Get(), sel, 60000, pending, [&] { return sel.configPackets > 0; });
    const auto* desc = sel.modules[0].Record(kKestOperatorSignalSelectionPropIndex + 1);
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ(desc->at(6), 1) << "front end 1 sits in slot 1";

    // A processor restart leaves the operator, another host, connected and answering.
    server.RequestRestart();
    deadline = Clock::now() + std::chrono::seconds(60);
    while (server.Stats().restarts == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(::send(oper.Get(), ask.data(), 12, 0), 12);
    ModelDecoder again;
    ReadStream(oper.Get(), again, 60000, pending, [&] { return again.configPackets > 0; });
    ASSERT_NE(again.modules[0].Record(kKestOperatorTrialPropIndex), nullptr);
    std::memcpy(&trial, again.modules[0].Record(kKestOperatorTrialPropIndex)->data(), sizeof trial);
    EXPECT_EQ(trial.Status(), kKestTrialRecording);
    EXPECT_EQ(server.Stats().restarts, 1u);
    server.Stop();
}

TEST_F(ServerTest, ControlChannelLinesOverLoopback) {
    Server server{ModelConfig::Default(2), DataConfig{}, ServerOptions{}};
    ControlChannel control{server, {}};
    control.Start("127.0.0.1", 0);
    ASSERT_NE(control.Port(), 0);
    Fd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in to = MakeAddress("127.0.0.1", control.Port());
    ASSERT_EQ(::connect(fd.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    std::string lines = "echo alter\r\ndigout\n";
    ASSERT_EQ(::send(fd.Get(), lines.data(), lines.size(), 0), ssize_t(lines.size()));
    std::string answer;
    char buffer[256];
    for (int i = 0; i < 100 && std::count(answer.begin(), answer.end(), '\n') < 2; ++i) {
        pollfd p{fd.Get(), POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) {
            ssize_t got = ::recv(fd.Get(), buffer, sizeof buffer, 0);
            ASSERT_GT(got, 0);
            answer.append(buffer, std::size_t(got));
        }
    }
    EXPECT_EQ(answer, "ok\nok 0x00000000\n");
    control.Stop();
}

} // namespace
