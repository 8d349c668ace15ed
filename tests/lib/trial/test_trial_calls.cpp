// kl_trial and kl_trial2 against the emulated processor's recording operators over the
// stream link: the status machine, the settings, two operators at once, an operator that
// falls silent or drops its connection, and the failures that come before any traffic.
#include "TrialTestKit.h"
#include "tests/links/LinkTestEnv.h"

#include "emulator/server/Fd.h"
#include "links/OperAddress.h"

#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <sys/socket.h>
#include <thread>

namespace {

using namespace std::chrono_literals;
using links_test::WaitFor;
using Network::OperNetwork::EndpointId;
using testing::AnyOf;
using trial_test::Emptied;
using trial_test::Trial;

class TrialCallsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LINKS_REQUIRE_LOOPBACK();
        net_ = links_test::UseLoopbackNet(3);
        paxsim::ServerOptions options;
        options.mode = paxsim::TransportMode::Tcp;
        options.net = net_;
        options.operators = {130, 131};
        options.wirelessOperators = {132};
        paxsim::DataConfig data;
        data.spikeRate = 0;
        data.digitalRate = 0;
        server_ = std::make_unique<paxsim::Server>(paxsim::ModelConfig::Default(1), data, options);
        server_->Start();
        // A busy machine may answer slowly: these tests are not about the open's bounds.
        links_test::GenerousHandshake();
        ASSERT_EQ(kl_open_tcp(), KL_SUCCESS);
    }
    void TearDown() override { kl_close(); }

    int Add(const std::string& address, KestConnectionPolicy policy = KL_PREFER_WIRED) {
        int id = -1;
        EXPECT_EQ(kl_operator_add(&id, address.c_str(), &policy, &kTimeoutMs), KL_SUCCESS)
            << address;
        return id;
    }
    // Waits until the emulated operator's own trial status is `status`.
    bool Settles(const std::string& oper, std::int32_t status) {
        return WaitFor([&] { return server_->OperatorTrialStatus(oper) == status; }, 5000ms);
    }
    std::string Wired(unsigned host) const { return net_.wiredNet + "." + std::to_string(host); }

    static constexpr int kTimeoutMs = 500;
    paxsim::NetConfig net_;
    std::unique_ptr<paxsim::Server> server_;
};

TEST_F(TrialCallsTest, QueryStartPauseResumeStop) {
    const int id = Add(Wired(130));
    auto r = Trial(0); // the first operator
    ASSERT_EQ(r.code, KL_SUCCESS);
    EXPECT_EQ(r.status, "stopped");
    EXPECT_EQ(r.fileBase, "trial");
    EXPECT_EQ(r.error, "");

    r = Trial(id, "recording");
    ASSERT_EQ(r.code, KL_SUCCESS);
    EXPECT_THAT(r.status, AnyOf("start requested", "recording"));
    ASSERT_TRUE(Settles("130", kKestTrialRecording));
    EXPECT_EQ(Trial(id, "recording").status, "recording") << "sent back unchanged";

    EXPECT_THAT(Trial(id, "paused").status, AnyOf("pause requested", "paused"));
    ASSERT_TRUE(Settles("130", kKestTrialPaused));
    EXPECT_EQ(Trial(id, "recording").status, "paused") << "only a stopped trial starts";
    EXPECT_THAT(Trial(id, "paused").status, AnyOf("unpause requested", "recording"));
    ASSERT_TRUE(Settles("130", kKestTrialRecording));

    EXPECT_THAT(Trial(id, "stopped").status, AnyOf("stop requested", "stopped"));
    ASSERT_TRUE(Settles("130", kKestTrialStopped));
    EXPECT_EQ(Trial(id, "paused").status, "stopped") << "a stopped trial cannot pause";
    EXPECT_EQ(server_->OperatorTrialStatus("130"), kKestTrialStopped);
}

TEST_F(TrialCallsTest, SettingsRoundTrip) {
    const int id = Add("130");
    const int stop = 30000, autoIncr = 1, incrNum = 7, none = -1;
    auto r = Trial(id, nullptr, "run-a", &stop, &autoIncr, &incrNum);
    ASSERT_EQ(r.code, KL_SUCCESS);
    EXPECT_EQ(r.status, "stopped");
    EXPECT_EQ(r.fileBase, "run-a");
    EXPECT_EQ(r.stopTime, 30000);
    EXPECT_EQ(r.autoIncr, 1);
    EXPECT_EQ(r.incrNum, 7);
    r = Trial(id); // held by the operator
    EXPECT_EQ(r.fileBase, "run-a");
    EXPECT_EQ(r.incrNum, 7);
    EXPECT_EQ(Trial(id, nullptr, nullptr, &none).stopTime, -1);

    // A file base is taken up to its terminator, and at most 511 characters of it.
    const char withTail[] = "abc\0tail";
    EXPECT_EQ(Trial(id, nullptr, withTail).fileBase, "abc");
    const std::string longBase(600, 'x');
    EXPECT_EQ(Trial(id, nullptr, longBase.c_str()).fileBase, std::string(511, 'x'));

    // Outputs: cut to their size; a size of 0 or below, or a null pointer, is not wanted.
    char tiny[4];
    char unwanted[8] = "keep";
    int count = 5;
    KestTrialParams out{};
    out.status = unwanted;
    out.status_size = -5;
    out.file_base = tiny;
    out.file_base_size = sizeof tiny;
    out.error_message = unwanted;
    out.error_message_size = 0;
    out.incr_num = &count;
    ASSERT_EQ(kl_trial2(id, &out, nullptr), KL_SUCCESS);
    EXPECT_STREQ(tiny, "xxx");
    EXPECT_STREQ(unwanted, "keep");
    EXPECT_EQ(count, 7);
    KestTrialParams in{};
    char paused[] = "paused";
    in.status = paused;
    EXPECT_EQ(kl_trial2(id, nullptr, &in), KL_SUCCESS) << "nothing wanted back";
}

// A bad status word fails at once: the silent operator would otherwise make the call wait
// and fail with "no response".
TEST_F(TrialCallsTest, FailuresLeaveEmptyOutputs) {
    const int id = Add("130");
    ASSERT_EQ(Trial(id).code, KL_SUCCESS); // nothing of the operator's is on its way now
    ASSERT_TRUE(server_->SetOperatorSilent("130", true));
    auto r = Trial(id, "start");
    EXPECT_EQ(r.code, KL_ERR_TRIAL_STATUS_INVALID);
    EXPECT_TRUE(Emptied(r));

    r = Trial(id); // the operator stops answering
    EXPECT_EQ(r.code, KL_ERR_NO_RESPONSE);
    EXPECT_TRUE(Emptied(r));
    ASSERT_TRUE(server_->SetOperatorSilent("130", false));
    EXPECT_EQ(Trial(id).code, KL_SUCCESS);

    r = Trial(-1);
    EXPECT_EQ(r.code, KL_ERR_OPERATOR_NOT_FOUND);
    EXPECT_TRUE(Emptied(r));
    EXPECT_EQ(Trial(int(EndpointId(Wired(131).c_str()))).code, KL_ERR_OPERATOR_NOT_FOUND)
        << "not added";
    kl_close();
    r = Trial(id);
    EXPECT_EQ(r.code, KL_ERR_NOT_INITIALIZED);
    EXPECT_TRUE(Emptied(r));
}

TEST_F(TrialCallsTest, TwoOperatorsEachAnswerForItself) {
    const int first = Add(Wired(130));
    const int second = Add("131");
    const int wireless = Add("132"); // only on the wireless network: the fall-back
    EXPECT_LT(first, 0) << "an operator's id is negative as an int, and still an id";
    EXPECT_EQ(std::uint32_t(wireless), EndpointId((net_.wirelessNet + ".132").c_str()));
    // This one writes its own host part into its headers instead of 150.
    ASSERT_TRUE(server_->SetOperatorProcId("131", 131));
    ASSERT_TRUE(server_->SetOperatorError("131", "disk full"));

    ASSERT_EQ(Trial(first, "recording").code, KL_SUCCESS);
    ASSERT_EQ(Trial(second, nullptr, "second").code, KL_SUCCESS);
    ASSERT_TRUE(Settles("130", kKestTrialRecording));
    auto a = Trial(first);
    auto b = Trial(second);
    auto c = Trial(wireless);
    ASSERT_EQ(a.code, KL_SUCCESS);
    ASSERT_EQ(b.code, KL_SUCCESS);
    ASSERT_EQ(c.code, KL_SUCCESS);
    EXPECT_EQ(a.status, "recording");
    EXPECT_EQ(a.fileBase, "trial");
    EXPECT_EQ(a.error, "");
    EXPECT_EQ(b.status, "stopped");
    EXPECT_EQ(b.fileBase, "second");
    EXPECT_EQ(b.error, "disk full");
    EXPECT_EQ(c.status, "stopped");
    EXPECT_EQ(server_->OperatorTrialStatus("131"), kKestTrialStopped);
}

TEST_F(TrialCallsTest, ADroppedConnectionFailsClearlyAndCanBeAddedAgain) {
    const int id = Add("130");
    ASSERT_EQ(Trial(id).code, KL_SUCCESS);
    ASSERT_TRUE(server_->DropOperatorConnections("130"));
    EXPECT_EQ(Trial(id).code, KL_ERR_OPERATOR_NOT_FOUND);
    EXPECT_EQ(Trial(0).code, KL_ERR_OPERATOR_NOT_FOUND) << "no operator connected";
    EXPECT_EQ(Add("130"), id);
    EXPECT_EQ(Trial(id).code, KL_SUCCESS);
}

// The operator drops its connection during a recording trial, while a call waits for its
// answer: the call ends with an error, and the operator added again is still recording.
TEST_F(TrialCallsTest, ADropDuringARecordingTrialEndsTheCallWithAnError) {
    const int id = Add("130");
    ASSERT_EQ(Trial(id, "recording").code, KL_SUCCESS);
    ASSERT_TRUE(Settles("130", kKestTrialRecording));
    ASSERT_TRUE(server_->SetOperatorSilent("130", true));
    std::atomic<int> code{KL_SUCCESS};
    std::thread call([&] { code = Trial(id).code; });
    ASSERT_TRUE(server_->DropOperatorConnections("130"));
    call.join();
    EXPECT_TRUE(code == KL_ERR_OPERATOR_NOT_FOUND || code == KL_ERR_NO_RESPONSE) << code;
    ASSERT_TRUE(server_->SetOperatorSilent("130", false));
    EXPECT_EQ(Add("130"), id);
    const auto r = Trial(id);
    EXPECT_EQ(r.code, KL_SUCCESS);
    EXPECT_EQ(r.status, "recording");
}

// A host that answers nothing: its listening socket's queue is full, so a new connection
// request goes unanswered until the caller gives up.
TEST_F(TrialCallsTest, AddingAWrongOrSilentAddressFails) {
    const KestConnectionPolicy wired = KL_WIRED_ONLY;
    const int timeout = 300;
    int id = 0;
    EXPECT_EQ(kl_operator_add(&id, "140", &wired, &timeout), KL_ERR_OPERATOR_NOT_FOUND)
        << "nothing listens there";
    EXPECT_EQ(id, -1);

    const sockaddr_in silent = paxsim::MakeAddress(Wired(141), net_.ConfigPort());
    paxsim::Fd listener(::socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&silent), sizeof silent), 0);
    ASSERT_EQ(::listen(listener.Get(), 0), 0);
    paxsim::Fd filler(::socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(::connect(filler.Get(), reinterpret_cast<const sockaddr*>(&silent), sizeof silent),
              0);
    EXPECT_EQ(kl_operator_add(&id, "141", &wired, &timeout), KL_ERR_OPERATOR_NOT_FOUND);
    EXPECT_EQ(id, -1);
}

} // namespace
