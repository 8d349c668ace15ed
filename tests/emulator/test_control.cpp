// Control channel commands, the program's command line and the datagram cutting.
#include "emulator/model/ModelFactory.h"
#include "emulator/model/OperatorModel.h"
#include "emulator/server/CommandLine.h"
#include "emulator/server/ControlChannel.h"
#include "emulator/server/Server.h"
#include "protocol/KestPacketBuilder.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace paxsim;

namespace {

class ControlTest : public ::testing::Test {
  protected:
    Server server{ModelConfig::Default(2), DataConfig{}, ServerOptions{}};
    bool quit = false;
    ControlChannel control{server, [this] { quit = true; }};
};

TEST_F(ControlTest, CommandsChangeTheEmulator) {
    EXPECT_EQ(control.Execute("echo drop"), "ok");
    EXPECT_EQ(control.Execute("echo sideways"), "error echo takes normal, drop or alter");
    EXPECT_EQ(control.Execute("echo-delay 20"), "ok");
    EXPECT_EQ(control.Execute("seq-gap 5 2"), "ok");
    EXPECT_EQ(control.Execute("flag-every 7"), "ok");
    EXPECT_EQ(control.Execute("spike-rate 12.5"), "ok");
    server.WithModel([](ProcessorModel&, DataGenerator& generator) {
        EXPECT_EQ(generator.Config().sequenceGapEvery, 5u);
        EXPECT_EQ(generator.Config().sequenceGapSize, 2u);
        EXPECT_EQ(generator.Config().flagEvery, 7u);
        EXPECT_DOUBLE_EQ(generator.Config().spikeRate, 12.5);
    });
    // The echo knob holds: a set is stored but not echoed.
    std::uint8_t record[8] = {1, kKestBoolType, 0, 0, 1, 0, 0, 0};
    std::uint8_t packet[20];
    KestBuildConfigPacket(packet, sizeof packet, 1, 0, 2, record, 8, 1);
    server.WithModel([&](ProcessorModel& model, DataGenerator&) {
        Outbox out;
        model.HandlePacket(packet, sizeof packet, 100, out);
        EXPECT_TRUE(out.Empty());
    });

    EXPECT_EQ(control.Execute("config-change stim"), "ok module 5");
    EXPECT_EQ(control.Execute("config-change banana").rfind("error", 0), 0u);
    EXPECT_EQ(control.Execute("button f1"), "ok");
    EXPECT_EQ(control.Execute("button f7"), "error button takes stop, event, f1 or f2");
    EXPECT_EQ(control.Execute("error 6 99 disk full"), "ok");
    EXPECT_EQ(control.Execute("digout"), "ok 0x00000000");
    EXPECT_EQ(control.Execute("get 34 53"),
              "ok 01 04 00 00 00 00 00 00 00 00 00 00 ff ff ff ff 00 00 00 00");
    EXPECT_EQ(control.Execute("get 34 999"), "error no such property");
    EXPECT_EQ(control.Execute("trial-status 130"), "error no such operator");
    EXPECT_EQ(control.Execute("quit"), "ok");
    EXPECT_TRUE(quit);
}

TEST_F(ControlTest, BadInputIsRefusedWithAReason) {
    EXPECT_EQ(control.Execute(""), "error empty command");
    EXPECT_EQ(control.Execute("launch"), "error unknown command 'launch'");
    EXPECT_EQ(control.Execute("loss 1.5"), "error bad number '1.5'");
    EXPECT_EQ(control.Execute("loss x"), "error bad number 'x'");
    EXPECT_EQ(control.Execute("silence -3"), "error bad number '-3'");
    EXPECT_EQ(control.Execute("digin 70000"), "error bad number '70000'");
    EXPECT_EQ(control.Execute("get 1"), "error bad number ''");
    EXPECT_THROW(control.Start("192.168.42.1", 0), std::invalid_argument);
}

TEST(CommandLineTest, OptionsBuildTheModelAndServer) {
    CommandLine cl =
        ParseCommandLine({"--frontends",    "3",       "--kinds",     "recording,stim",
                          "--channels",     "16",      "--on",        "hi-res,analog30k",
                          "--off",          "spk",     "--mode",      "both",
                          "--control-port", "4000",    "--seq-gap",   "10:3",
                          "--operators",    "130,200", "--underflow", "4,5",
                          "--echo",         "alter",   "--wired-net", "127.0.9",
                          "--port-base",    "30000",   "--seconds",   "2.5"});
    ASSERT_EQ(cl.model.frontEnds.size(), 3u);
    EXPECT_EQ(cl.model.frontEnds[0].kind, FrontEndKind::Recording);
    EXPECT_EQ(cl.model.frontEnds[1].kind, FrontEndKind::Stim);
    EXPECT_EQ(cl.model.frontEnds[2].kind, FrontEndKind::Recording);
    EXPECT_EQ(cl.model.frontEnds[2].channels, 16);
    EXPECT_TRUE(cl.model.frontEnds[1].hiRes);
    EXPECT_FALSE(cl.model.frontEnds[1].spk);
    EXPECT_TRUE(cl.model.analog30k);
    EXPECT_EQ(cl.server.mode, TransportMode::Both);
    EXPECT_EQ(cl.controlPort, 4000);
    EXPECT_EQ(cl.data.sequenceGapEvery, 10u);
    EXPECT_EQ(cl.data.sequenceGapSize, 3u);
    EXPECT_EQ(cl.server.operators, (std::vector<unsigned>{130, 200}));
    EXPECT_EQ(cl.model.impedanceUnderflow.count(5), 1u);
    EXPECT_EQ(cl.echo, EchoMode::Alter);
    EXPECT_EQ(cl.server.net.wiredNet, "127.0.9");
    EXPECT_EQ(cl.server.net.portBase, 30000);
    EXPECT_DOUBLE_EQ(cl.seconds, 2.5);
}

TEST(CommandLineTest, BadOptionsNameTheProblem) {
    auto message = [](std::vector<std::string> args) {
        try {
            ParseCommandLine(args);
        } catch (const std::invalid_argument& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(message({"--frontends", "17"}),
              "paxsim: --frontends takes a number from 1 to 16, not '17'");
    EXPECT_EQ(message({"--frontends"}), "paxsim: --frontends needs a value");
    EXPECT_EQ(message({"--mode", "carrier-pigeon"}), "paxsim: --mode takes udp, tcp or both");
    EXPECT_EQ(message({"--operators", "12"}),
              "paxsim: --operators takes a number from 128 to 254, not '12'");
    EXPECT_EQ(message({"--wired-net", "10.0"}),
              "paxsim: a network prefix has three numbers, not '10.0'");
    EXPECT_EQ(message({"--on", "video"}), "paxsim: unknown stream 'video'");
    EXPECT_EQ(message({"--fast"}), "paxsim: unknown option '--fast'");
}

TEST(DatagramTest, WholePacketsUpToTheLimit) {
    // 20 raw packets of 76 bytes: 18 fit into 1440 bytes (1368), the rest follow.
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 20; ++i) {
        std::vector<std::uint8_t> packet(76, std::uint8_t(i));
        packet[0] = 19;
        bytes.insert(bytes.end(), packet.begin(), packet.end());
    }
    std::vector<std::size_t> sizes;
    std::size_t count = ForEachDatagram(bytes.data(), bytes.size(), 1440,
                                        [&](const std::uint8_t* begin, std::size_t size) {
                                            EXPECT_EQ(begin[0], 19);
                                            sizes.push_back(size);
                                        });
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(sizes, (std::vector<std::size_t>{1368, 152}));
    // A packet of 1020 bytes after 500 bytes starts a datagram of its own.
    std::vector<std::uint8_t> mixed(500 + 1020, 0);
    mixed[0] = 125;
    mixed[500] = 255;
    sizes.clear();
    ForEachDatagram(mixed.data(), mixed.size(), 1440,
                    [&](const std::uint8_t*, std::size_t size) { sizes.push_back(size); });
    EXPECT_EQ(sizes, (std::vector<std::size_t>{500, 1020}));
}

TEST(NetConfigTest, EnvironmentAndPrefixes) {
    EXPECT_NO_THROW(NetConfig::CheckNet("127.0.42"));
    EXPECT_THROW(NetConfig::CheckNet("127.0.420"), std::invalid_argument);
    EXPECT_THROW(NetConfig::CheckNet("127.0.42.1"), std::invalid_argument);
    EXPECT_THROW(NetConfig::CheckNet("127..4"), std::invalid_argument);
    EXPECT_TRUE(IsLoopbackNet("127.0.43"));
    EXPECT_FALSE(IsLoopbackNet("192.168.42"));
    NetConfig net;
    net.portBase = 23045;
    EXPECT_EQ(net.DataPort(), 23046);
    EXPECT_EQ(net.ConfigPort(), 23047);
    EXPECT_EQ(net.ClientPort(), 23046);
}

TEST(OperatorModelTest, TrialSettlesAfterItsDelayAndSelectionsFollowFrontEnds) {
    OperatorModel oper(ModelConfig::Default(3), 300);
    std::uint8_t ask[12];
    KestBuildRequest(ask, sizeof ask, kKestOperatorProcId, 0, kKestOperatorTrialPropIndex);
    Outbox out;
    oper.HandlePacket(ask, sizeof ask, 10, out);
    ASSERT_EQ(out.Bytes().size(), 888u);
    EXPECT_EQ(out.Bytes()[0], 222);
    EXPECT_EQ(out.Bytes()[1], kKestOperatorProcId) << "an operator's packets carry 150";
    EXPECT_EQ(out.Bytes()[8], kKestOperatorProcId);
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&out.Bytes()[10]), kKestOperatorTrialPropIndex);

    KestBuildRequest(ask, sizeof ask, kKestAllProcessors, 0, 0);
    out.Clear();
    oper.HandlePacket(ask, sizeof ask, 10, out);
    ASSERT_EQ(out.Bytes().size(), 888u) << "everything: the trial descriptor";
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&out.Bytes()[10]), kKestOperatorTrialPropIndex);

    KestRecordingTrialDescriptor trial = oper.Trial();
    trial.SetStatus(kKestTrialStartRequested);
    std::vector<std::uint8_t> set(888);
    KestBuildConfigPacket(set.data(), set.size(), kKestOperatorProcId, 0,
                          kKestOperatorTrialPropIndex, &trial, sizeof trial, 1);
    out.Clear();
    oper.HandlePacket(set.data(), set.size(), 1000, out);
    EXPECT_TRUE(out.Empty()) << "a set is not answered";
    EXPECT_EQ(oper.TrialStatus(1299), kKestTrialStartRequested);
    EXPECT_EQ(oper.TrialStatus(1300), kKestTrialRecording);
    trial.SetStatus(kKestTrialPauseRequested);
    KestBuildConfigPacket(set.data(), set.size(), kKestOperatorProcId, 0,
                          kKestOperatorTrialPropIndex, &trial, sizeof trial, 1);
    oper.HandlePacket(set.data(), set.size(), 2000, out);
    EXPECT_EQ(oper.TrialStatus(2400), kKestTrialPaused);
    oper.SetErrorMessage("disk full");
    EXPECT_STREQ(oper.Trial().errorMessage, "disk full");

    for (std::uint16_t i : {0, 2, 3, 31}) {
        KestBuildRequest(ask, sizeof ask, kKestOperatorProcId, 0,
                         std::uint16_t(kKestOperatorSignalSelectionPropIndex + i));
        out.Clear();
        oper.HandlePacket(ask, sizeof ask, 10, out);
        ASSERT_EQ(out.Bytes().size(), 532u);
        const auto* sel = reinterpret_cast<const BmFeSignalSelectionDesc*>(&out.Bytes()[12]);
        EXPECT_EQ(sel->valid, i < 3 ? 1 : 0) << i;
        EXPECT_EQ(sel->slot, i < 3 ? i : 0xFF) << i;
    }
    KestBuildRequest(ask, sizeof ask, kKestOperatorProcId, 0,
                     std::uint16_t(kKestOperatorSignalSelectionPropIndex + 32));
    out.Clear();
    oper.HandlePacket(ask, sizeof ask, 10, out);
    EXPECT_TRUE(out.Empty());
}

} // namespace

// Operators are named by host part or by a dotted address they listen at; a wireless
// operator listens on the wireless network only.
TEST(ControlOperatorsTest, OperatorsAreNamedByHostOrAddress) {
    ServerOptions options;
    options.net.wiredNet = "127.0.42";
    options.net.wirelessNet = "127.0.43";
    options.operators = {130};
    options.wirelessOperators = {131};
    Server server(ModelConfig::Default(1), DataConfig{}, options);
    ControlChannel control(server, [] {});
    EXPECT_EQ(control.Execute("trial-status 130"), "ok 1");
    EXPECT_EQ(control.Execute("trial-status 127.0.43.131"), "ok 1");
    EXPECT_EQ(control.Execute("trial-status 127.0.42.131"), "error no such operator");
    EXPECT_EQ(control.Execute("trial-status 130 9"), "ok");
    EXPECT_EQ(control.Execute("trial-status 130"), "ok 9");
    EXPECT_EQ(control.Execute("oper-silent 130 on"), "ok");
    EXPECT_EQ(control.Execute("oper-silent 130 maybe"), "error oper-silent takes on or off");
    EXPECT_EQ(control.Execute("oper-drop 131"), "ok");
    EXPECT_EQ(control.Execute("oper-drop 132"), "error no such operator");
    EXPECT_EQ(control.Execute("oper-proc-id 127.0.42.130 130"), "ok");
    EXPECT_EQ(control.Execute("oper-proc-id 130 0"), "error bad number '0'");

    options.wirelessOperators = {130};
    options.net.bothNets = true;
    EXPECT_THROW(Server(ModelConfig::Default(1), DataConfig{}, options), std::invalid_argument)
        << "127.0.43.130 named twice";
}
