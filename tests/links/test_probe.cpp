// The processor presence probe over loopback: a listener stands in for the processor on
// the wired or the wireless network.
#include "LinkTestEnv.h"

#include "include/kestlib.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A TCP listener on address:port for the life of the object.
class Listener {
  public:
    Listener(const std::string& address, std::uint16_t port, int backlog = 8) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &at.sin_addr);
        ok_ = bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
              listen(fd_, backlog) == 0;
        at_ = at;
    }
    // Fills the accept queue of a listener that never accepts, so that further connects
    // get no answer at all.
    void Clog() {
        for (int i = 0; i < 4; ++i) {
            int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(fd, reinterpret_cast<sockaddr*>(&at_), sizeof at_);
            clogs_.push_back(fd);
        }
        usleep(50000);
    }
    ~Listener() {
        for (int fd : clogs_) {
            close(fd);
        }
        close(fd_);
    }
    bool Ok() const { return ok_; }

  private:
    int fd_ = -1;
    bool ok_ = false;
    sockaddr_in at_{};
    std::vector<int> clogs_;
};

class ProbeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LINKS_REQUIRE_LOOPBACK();
        net_ = links_test::UseLoopbackNet(0);
    }
    int Probe(KestConnectionPolicy policy, int timeoutMs, double* seconds = nullptr) {
        const KestConnectionOptions options{policy, 0, timeoutMs};
        int found = -1;
        const auto begin = Clock::now();
        EXPECT_EQ(kl_processor_status(&found, &options), KL_SUCCESS);
        if (seconds) {
            *seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        }
        return found;
    }
    paxsim::NetConfig net_;
};

} // namespace

TEST_F(ProbeTest, FindsTheProcessorOnTheWiredNetwork) {
    Listener wired(net_.wiredNet + ".1", net_.PresencePort());
    ASSERT_TRUE(wired.Ok());
    EXPECT_EQ(Probe(KL_WIRED_ONLY, 500), 1);
    EXPECT_EQ(Probe(KL_PREFER_WIRED, 500), 1);
    EXPECT_EQ(Probe(KL_PREFER_WIRELESS, 500), 1) << "the other network is probed too";
    EXPECT_EQ(Probe(KL_WIRELESS_ONLY, 500), 0);
    int found = -1;
    EXPECT_EQ(kl_processor_status(&found, nullptr), KL_SUCCESS) << "default options";
    EXPECT_EQ(found, 1);
}

TEST_F(ProbeTest, PreferPoliciesFallBackToTheOtherNetwork) {
    Listener wireless(net_.wirelessNet + ".1", net_.PresencePort());
    ASSERT_TRUE(wireless.Ok());
    EXPECT_EQ(Probe(KL_WIRELESS_ONLY, 500), 1);
    EXPECT_EQ(Probe(KL_PREFER_WIRELESS, 500), 1);
    EXPECT_EQ(Probe(KL_PREFER_WIRED, 500), 1);
    EXPECT_EQ(Probe(KL_WIRED_ONLY, 500), 0);
}

TEST_F(ProbeTest, NothingListeningIsNotFoundWithinTheTimeout) {
    double seconds = 0;
    EXPECT_EQ(Probe(KL_WIRED_ONLY, 300, &seconds), 0);
    EXPECT_LT(seconds, links_test::kHangSeconds);
    EXPECT_EQ(Probe(KL_PREFER_WIRED, 300, &seconds), 0);
    EXPECT_LT(seconds, links_test::kHangSeconds) << "two probes of at most the timeout each";
    EXPECT_EQ(Probe(KL_WIRED_ONLY, 0), 0);
}

TEST_F(ProbeTest, AnUnansweredConnectEndsAtTheTimeout) {
    Listener silent(net_.wiredNet + ".1", net_.PresencePort(), 0);
    ASSERT_TRUE(silent.Ok());
    silent.Clog();
    double seconds = 0;
    EXPECT_EQ(Probe(KL_WIRED_ONLY, 250, &seconds), 0);
    EXPECT_GE(seconds, 0.2);
    EXPECT_LT(seconds, links_test::kHangSeconds);
}

TEST_F(ProbeTest, PreferPoliciesProbeTheirOwnNetworkFirst) {
    // The wired processor does not answer, the wireless one does: a probe that starts on the
    // wired network waits out its timeout first, far longer than the generous bound on a
    // probe that does not.
    Listener silent(net_.wiredNet + ".1", net_.PresencePort(), 0);
    ASSERT_TRUE(silent.Ok());
    silent.Clog();
    Listener wireless(net_.wirelessNet + ".1", net_.PresencePort());
    ASSERT_TRUE(wireless.Ok());
    double seconds = 0;
    EXPECT_EQ(Probe(KL_PREFER_WIRELESS, 60000, &seconds), 1);
    EXPECT_LT(seconds, links_test::kHangSeconds);
    EXPECT_EQ(Probe(KL_PREFER_WIRED, 300, &seconds), 1);
    EXPECT_GE(seconds, 0.28);
}
