// Hostile input at the links while the processor streams and a reader reads: datagrams of
// every malformed kind at the datagram link's port, from a foreign host and from one that
// uses the processor's own address, and a processor stream that turns to garbage. Nothing
// crashes or hangs, memory stays bounded and the processor's samples read back exactly.
#include "FaultTestEnv.h"

#include "cache/KestCache.h"
#include "cache/KestCacheTypes.h"
#include "client/Connection.h"
#include "links/OperNetwork.h"
#include "links/UDPOperNetwork.h"
#include "protocol/KestPacket.h"
#include "transport/ClientFamily.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using fault_test::LfpFollower;
using links_test::WaitFor;

constexpr std::uint32_t kHostileSeed = 20;

// A UDP socket bound to `host` that sends to the link's port on 127.0.0.1.
class Sender {
  public:
    Sender(const std::string& host, std::uint16_t linkPort) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        inet_pton(AF_INET, host.c_str(), &at.sin_addr);
        bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
        int size = 1 << 20;
        setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        to_.sin_family = AF_INET;
        to_.sin_port = htons(linkPort);
        inet_pton(AF_INET, "127.0.0.1", &to_.sin_addr);
    }
    ~Sender() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool Bound() const { return bound_; }
    void Send(const Bytes& datagram) {
        // A full send buffer only loses hostile datagrams: the test does not count them.
        sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to_),
               sizeof to_);
    }

  private:
    int fd_ = -1;
    bool bound_ = false;
    sockaddr_in to_{};
};

// Writes a packet header at `at` of `bytes` (size byte in words, cut to 255).
void Header(Bytes& bytes, std::size_t at, std::size_t words, std::uint8_t proc, std::uint8_t module,
            std::uint8_t stream, std::uint32_t time) {
    bytes[at] = std::uint8_t(words > 255 ? 255 : words);
    bytes[at + 1] = proc;
    bytes[at + 2] = module;
    bytes[at + 3] = stream;
    std::memcpy(&bytes[at + 4], &time, 4);
}

// Makes the hostile datagrams. `impersonate`: packets may claim any module, the processor's
// real ones included; otherwise they keep off the modules the processor has (those a host
// sending from the processor's own address could forge at will).
class Hostile {
  public:
    Hostile(std::vector<unsigned> modules, bool impersonate)
        : modules_(std::move(modules)), impersonate_(impersonate), random_(kHostileSeed) {}

    Bytes Next(unsigned kind) {
        switch (kind % 10) {
        case 0: // random bytes of any length
            return Random(Pick(0, 1500));
        case 1: { // a whole data packet cut short
            Bytes packet = DataPacket(Module(), std::uint8_t(Pick(1, 255)), Pick(4, 100));
            packet.resize(Pick(1, unsigned(packet.size()) - 1));
            return packet;
        }
        case 2: { // size byte 0, 1 or 255 followed by what fits in the datagram
            Bytes packet = Random(Pick(8, 1400));
            static const std::uint8_t sizes[] = {0, 1, 255};
            packet[0] = sizes[Pick(0, 2)];
            packet[1] = 1;
            packet[2] = Module();
            return packet;
        }
        case 3: { // unknown and extreme module and stream ids
            static const std::uint8_t ids[] = {0, 35, 99, 200, 254, 255};
            return DataPacket(ids[Pick(0, 5)], std::uint8_t(Pick(0, 1) ? 255 : Pick(1, 254)),
                              Pick(3, 255));
        }
        case 4: // forged configuration packets: any record type and size, new modules too
            return ConfigPacket(Pick(0, 3) == 0 ? std::uint8_t(Pick(36, 250)) : Module(),
                                std::uint16_t(Pick(0, 0xFFFF)), Random(Pick(0, 1008)));
        case 5: { // error messages whose texts overrun their records or are not terminated
            Bytes record = Random(Pick(0, 1008));
            if (record.size() >= 20) {
                const std::uint16_t length =
                    std::uint16_t(Pick(0, 1) ? 0xFFFF : record.size() - 20);
                std::memcpy(&record[18], &length, 2);
                std::memset(record.data() + 20, 'x', record.size() - 20);
            }
            return ConfigPacket(0, kKestErrorPropIndex, record);
        }
        case 6: { // processor times jumping about and wrapping at 2^32
            Bytes datagram(12 * Pick(1, 100));
            for (std::size_t at = 0; at < datagram.size(); at += 12) {
                const std::uint32_t time = Pick(0, 1) ? 0xFFFFFFFFu - Pick(0, 3000) : Pick(0, 3000);
                Header(datagram, at, 3, 1, 0, 0, time);
                datagram[at + 8] = 1;
            }
            return datagram;
        }
        case 7: // zero-length and oversize datagrams
            return Pick(0, 1) ? Bytes() : Random(65507);
        case 8: { // many tiny packets: headers alone, of modules known or not
            Bytes datagram(8 * Pick(1, 180));
            for (std::size_t at = 0; at < datagram.size(); at += 8) {
                Header(datagram, at, 2, 1, Module(), std::uint8_t(Pick(0, 255)), Pick(0, ~0u));
            }
            return datagram;
        }
        default: { // a module descriptor announcing a module the processor does not have
            Bytes record(344);
            record[1] = kKestModuleDescType;
            return ConfigPacket(std::uint8_t(Pick(36, 250)), 0, record);
        }
        }
    }

  private:
    unsigned Pick(unsigned low, unsigned high) {
        return std::uniform_int_distribution<unsigned>(low, high)(random_);
    }
    Bytes Random(std::size_t size) {
        Bytes bytes(size);
        for (std::uint8_t& byte : bytes) {
            byte = std::uint8_t(random_());
        }
        return bytes;
    }
    // A module the packet claims: one of the processor's own only when impersonating.
    std::uint8_t Module() {
        if (impersonate_ && Pick(0, 1) == 0) {
            return std::uint8_t(modules_[Pick(0, unsigned(modules_.size()) - 1)]);
        }
        for (;;) {
            const std::uint8_t module = std::uint8_t(Pick(1, 255));
            if (std::find(modules_.begin(), modules_.end(), module) == modules_.end()) {
                return module;
            }
        }
    }
    Bytes DataPacket(std::uint8_t module, std::uint8_t stream, unsigned words) {
        Bytes packet = Random(words * 4);
        Header(packet, 0, words, 1, module, stream,
               Pick(0, 1) ? 0xFFFFFFFFu - Pick(0, 100000) : Pick(0, 0xFFFFFFFFu));
        packet[8] = std::uint8_t(Pick(0, 1) ? 1 : Pick(0, 8));
        return packet;
    }
    Bytes ConfigPacket(std::uint8_t module, std::uint16_t index, const Bytes& record) {
        Bytes packet(12 + (record.size() + 3) / 4 * 4);
        Header(packet, 0, packet.size() / 4, 1, module, 0, Pick(0, ~0u));
        packet[8] = 1;
        packet[9] = module;
        std::memcpy(&packet[10], &index, 2);
        std::copy(record.begin(), record.end(), packet.begin() + 12);
        return packet;
    }

    std::vector<unsigned> modules_;
    bool impersonate_;
    std::mt19937 random_;
};

class HostileDatagramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LINKS_REQUIRE_LOOPBACK();
        net_ = fault_test::UseFaultNet(1);
        links_test::GenerousHandshake();
        server_ = fault_test::StartLfpProcessor(net_, paxsim::TransportMode::Udp, 2);
        ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
        for (unsigned f = 0; f < 2; ++f) {
            followers_.emplace_back(32 * f);
        }
        ASSERT_TRUE(ReadSome(200));
    }
    void TearDown() override {
        kl_close();
        server_.reset();
        links_test::ProductHandshake();
    }
    // Reads on until every follower has read `count` more samples of the processor's own.
    bool ReadSome(std::uint64_t count) {
        std::vector<std::uint64_t> goal;
        for (const LfpFollower& follower : followers_) {
            goal.push_back(follower.Genuine() + count);
        }
        return WaitFor([&] {
            bool all = true;
            for (std::size_t i = 0; i < followers_.size(); ++i) {
                followers_[i].Poll();
                all = all && followers_[i].Genuine() >= goal[i];
            }
            return all;
        });
    }
    // Sends `count` datagrams from `host` while the followers read and the error queue is
    // emptied, as a user would.
    void Barrage(const std::string& host, bool impersonate, int count) {
        Sender sender(host, net_.ClientPort());
        ASSERT_TRUE(sender.Bound()) << host;
        Hostile hostile(gKestCache->GetModuleList(), impersonate);
        std::printf("hostile datagrams from %s, seed %u\n", host.c_str(), kHostileSeed);
        for (int i = 0; i < count; ++i) {
            sender.Send(hostile.Next(unsigned(i)));
            if (i % 50 == 0) {
                for (LfpFollower& follower : followers_) {
                    follower.Poll();
                }
                kl_time();
                KestErrorMessage_t* message = nullptr;
                while (kl_error_pop(&message) == KL_SUCCESS && message != nullptr) {
                    kl_error_free_message(message);
                }
                std::this_thread::sleep_for(1ms);
            }
        }
    }
    void ExpectExactStreams() {
        for (const LfpFollower& follower : followers_) {
            SCOPED_TRACE(follower.Describe());
            EXPECT_EQ(follower.Wrong(), 0u) << "no forged sample";
            EXPECT_EQ(follower.Unread(), 0u);
        }
    }
    paxsim::NetConfig net_;
    std::unique_ptr<paxsim::Server> server_;
    std::vector<LfpFollower> followers_;
};

// A host off the processor's networks, and one of them that is not the processor.
TEST_F(HostileDatagramTest, AnotherHostForgesNothing) {
    const long heap = fault_test::HeapInUseKb();
    Barrage("127.0.0.1", true, 20000);
    Barrage(net_.wiredNet + ".77", true, 10000);
    ASSERT_TRUE(ReadSome(500));
    // A flood may fill the socket's buffer and the kernel drop the processor's datagrams too:
    // those samples read as gaps, never as anything else.
    ExpectExactStreams();
    EXPECT_EQ(gKestCache->GetStatus(), kCacheReady);
    EXPECT_EQ(kl_error_check(), 0) << "no message of a foreign host is queued";
    const auto* network =
        dynamic_cast<Network::UDPOperNetwork*>(Network::OperNetwork::CurrentNetwork());
    ASSERT_NE(network, nullptr);
    EXPECT_GT(network->ForeignPackets(), 0u);
    EXPECT_LT(fault_test::HeapInUseKb(), heap + 16 * 1024);
    EXPECT_EQ(kl_close(), KL_SUCCESS);
}

// A host that sends from the processor's own address can forge anything of the modules the
// processor has; everything else it sends changes nothing but the processor time, and a
// module that was never announced ends at most in a configuration change.
TEST_F(HostileDatagramTest, MalformedPacketsFromTheProcessorAddressLeaveTheStreamsExact) {
    const long heap = fault_test::HeapInUseKb();
    Barrage(net_.wiredNet + ".1", false, 20000);
    const int status = gKestCache->GetStatus();
    EXPECT_TRUE(status == kCacheReady || status == kCacheConfigChanged) << status;
    // The processor's samples go on arriving either way.
    ASSERT_TRUE(ReadSome(500));
    ExpectExactStreams();
    EXPECT_GT(gKestCache->GetMalformedCount(), 0u);
    // The error queue keeps its bound, however many messages came.
    EXPECT_LE(kl_error_check(), 1024);
    EXPECT_LT(fault_test::HeapInUseKb(), heap + 16 * 1024);

    EXPECT_EQ(kl_close(), KL_SUCCESS);
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS) << "a new open works";
    EXPECT_EQ(gKestCache->GetStatus(), kCacheReady);
    followers_.clear();
    for (unsigned f = 0; f < 2; ++f) {
        followers_.emplace_back(32 * f);
    }
    ASSERT_TRUE(ReadSome(200));
    ExpectExactStreams();
}

} // namespace
