// Network settings from the environment and the operator address shorthand.
#include "links/NetConfig.h"
#include "links/OperAddress.h"
#include "links/OperRegistry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using Network::NetConfig;
using namespace Network::OperNetwork;

namespace {

// Sets or clears the three variables for one test and puts the old values back after.
class EnvGuard {
  public:
    EnvGuard() {
        for (int i = 0; i < 3; ++i) {
            const char* value = std::getenv(kNames[i]);
            had_[i] = value != nullptr;
            old_[i] = value ? value : "";
        }
    }
    ~EnvGuard() {
        for (int i = 0; i < 3; ++i) {
            if (had_[i]) {
                setenv(kNames[i], old_[i].c_str(), 1);
            } else {
                unsetenv(kNames[i]);
            }
        }
    }
    void Set(const char* wired, const char* wireless, const char* base) {
        const char* values[3] = {wired, wireless, base};
        for (int i = 0; i < 3; ++i) {
            if (values[i]) {
                setenv(kNames[i], values[i], 1);
            } else {
                unsetenv(kNames[i]);
            }
        }
    }

  private:
    static constexpr const char* kNames[3] = {"KEST_WIRED_NET", "KEST_WIRELESS_NET",
                                              "KEST_PORT_BASE"};
    bool had_[3];
    std::string old_[3];
};

NetConfig Loopback() {
    NetConfig config;
    config.wiredNet = "127.0.42";
    config.wirelessNet = "127.0.43";
    config.portBase = 23045;
    return config;
}

} // namespace

TEST(NetConfigTest, DefaultsWhenUnsetAndPortsFromTheBase) {
    EnvGuard env;
    env.Set(nullptr, nullptr, nullptr);
    NetConfig config;
    std::string error;
    ASSERT_TRUE(NetConfig::FromEnvironment(&config, &error)) << error;
    EXPECT_EQ(config.wiredNet, "192.168.42");
    EXPECT_EQ(config.wirelessNet, "192.168.43");
    EXPECT_EQ(config.portBase, 2045);
    EXPECT_EQ(config.ProcessorAddress(false), "192.168.42.1");
    EXPECT_EQ(config.ProcessorAddress(true), "192.168.43.1");
    EXPECT_EQ(config.BroadcastAddress(), "192.168.42.255");
    EXPECT_EQ(config.ProbePort(), 2045);
    EXPECT_EQ(config.UdpLocalPort(), 2046);
    EXPECT_EQ(config.UdpRemotePort(), 2047);
    EXPECT_EQ(config.DataPort(), 2046);
    EXPECT_EQ(config.ConfigPort(), 2047);
    EXPECT_EQ(config.OperatorPort(), 2047);
}

TEST(NetConfigTest, EnvironmentOverridesAndBadValuesAreRefused) {
    EnvGuard env;
    env.Set("127.0.42", "127.0.43", "23045");
    NetConfig config;
    std::string error;
    ASSERT_TRUE(NetConfig::FromEnvironment(&config, &error));
    EXPECT_EQ(config.BroadcastAddress(), "127.0.42.255");
    EXPECT_EQ(config.ProcessorAddress(true), "127.0.43.1");
    EXPECT_EQ(config.UdpRemotePort(), 23047);

    for (const char* bad : {"127.0", "127.0.42.1", "127.0.256", "a.b.c", "127..42", "127.0.42x"}) {
        env.Set(bad, "127.0.43", "23045");
        EXPECT_FALSE(NetConfig::FromEnvironment(&config, &error)) << bad;
        EXPECT_NE(error.find("KEST_WIRED_NET"), std::string::npos);
        // A refused setting never leaves a half-read configuration behind.
        EXPECT_EQ(config.wiredNet, "192.168.42");
    }
    for (const char* bad : {"0", "65534", "-5", "2045x", "99999999"}) {
        env.Set("127.0.42", "127.0.43", bad);
        EXPECT_FALSE(NetConfig::FromEnvironment(&config, &error)) << bad;
        EXPECT_NE(error.find("KEST_PORT_BASE"), std::string::npos);
    }
}

TEST(OperAddressTest, ShortAddressesFollowTheNetworksAndThePolicy) {
    const NetConfig net = Loopback();
    using V = std::vector<std::string>;
    EXPECT_EQ(ShortAddressCandidates("43.130", 0, net, ShortAddressUse::Connect),
              V{"127.0.43.130"});
    EXPECT_EQ(ShortAddressCandidates("1.43.130", 0, net, ShortAddressUse::Connect),
              V{"127.1.43.130"});
    EXPECT_EQ(ShortAddressCandidates("10.1.43.130", 0, net, ShortAddressUse::Connect),
              V{"10.1.43.130"});
    EXPECT_EQ(ShortAddressCandidates("128", KL_PREFER_WIRELESS, net, ShortAddressUse::Connect),
              (V{"127.0.43.128", "127.0.42.128"}));
    EXPECT_EQ(ShortAddressCandidates("128", KL_PREFER_WIRED, net, ShortAddressUse::Connect),
              (V{"127.0.42.128", "127.0.43.128"}));
    EXPECT_EQ(ShortAddressCandidates("128", KL_WIRED_ONLY, net, ShortAddressUse::Connect),
              V{"127.0.42.128"});
    EXPECT_EQ(ShortAddressCandidates("128", KL_WIRELESS_ONLY, net, ShortAddressUse::Connect),
              V{"127.0.43.128"});
    EXPECT_TRUE(ShortAddressCandidates("128", 7, net, ShortAddressUse::Connect).empty());
    // Lookups: one number means the wired network only on the datagram link, both on the
    // stream link.
    EXPECT_EQ(ShortAddressCandidates("7", 0, net, ShortAddressUse::LookupUdp), V{"127.0.42.7"});
    EXPECT_EQ(ShortAddressCandidates("7", KL_PREFER_WIRELESS, net, ShortAddressUse::LookupTcp),
              (V{"127.0.42.7", "127.0.43.7"}));
    // Numbers beyond 255 are cut to their low 8 bits; text without a number names nothing.
    EXPECT_EQ(ShortAddressCandidates("43.386", 0, net, ShortAddressUse::Connect),
              V{"127.0.43.130"});
    EXPECT_EQ(ShortAddressCandidates("256.1.2.300", 0, net, ShortAddressUse::Connect),
              V{"0.1.2.44"});
    EXPECT_TRUE(ShortAddressCandidates("", 0, net, ShortAddressUse::Connect).empty());
    EXPECT_TRUE(ShortAddressCandidates("x7", 0, net, ShortAddressUse::Connect).empty());
    EXPECT_TRUE(ShortAddressCandidates(nullptr, 0, net, ShortAddressUse::Connect).empty());

    NetConfig defaults;
    EXPECT_EQ(ShortAddressCandidates("43.130", 0, defaults, ShortAddressUse::Connect),
              V{"192.168.43.130"});
    EXPECT_EQ(ShortAddressCandidates("5.6.7", 0, defaults, ShortAddressUse::Connect),
              V{"192.5.6.7"});
}

TEST(OperAddressTest, EndpointIdsCarryTheHostInTheTopByte) {
    const std::uint32_t operatorId = EndpointId("192.168.42.150");
    EXPECT_EQ(operatorId, 0x962AA8C0u);
    EXPECT_EQ(oper::OperHostId(operatorId), 150u);
    EXPECT_FALSE(oper::OperIsProcessor(operatorId));
    EXPECT_EQ(oper::OperProcessorId(operatorId), 150u);

    EXPECT_TRUE(oper::OperIsProcessor(EndpointId("127.0.42.127")));
    EXPECT_EQ(oper::OperProcessorId(EndpointId("127.0.42.127")), 127u);
    EXPECT_FALSE(oper::OperIsProcessor(EndpointId("127.0.42.128")));
    EXPECT_EQ(oper::OperProcessorId(EndpointId("127.0.42.200")), 150u);
    EXPECT_EQ(EndpointId("127.0.42"), kNoEndpoint);
    EXPECT_EQ(EndpointId(nullptr), kNoEndpoint);
}
