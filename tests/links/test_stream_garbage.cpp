// A processor stream that turns to garbage: a relay between the stream link and the emulated
// processor passes the start-up and the data through, then stops relaying and sends a
// packet of size 0 and a packet cut in the middle, holding both connections open. Nothing
// crashes or hangs, and the close ends the link although its peer never closes.
#include "FaultTestEnv.h"

#include "client/Connection.h"
#include "links/OperNetwork.h"
#include "transport/ClientFamily.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using links_test::WaitFor;

int Listen(const std::string& host, std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &at.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int Connect(const std::string& host, std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &at.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Relays the data and configuration streams from `front` (where the link connects) to the
// same ports at `back` (the processor) until told to turn to garbage.
class Relay {
  public:
    Relay(const std::string& front, const std::string& back, std::uint16_t dataPort,
          std::uint16_t configPort)
        : back_(back) {
        listeners_.push_back({Listen(front, dataPort), dataPort});
        listeners_.push_back({Listen(front, configPort), configPort});
        thread_ = std::thread([this] { Run(); });
    }
    ~Relay() {
        stop_ = true;
        thread_.join();
        for (const Listener& listener : listeners_) {
            close(listener.fd);
        }
        for (const Pair& pair : pairs_) {
            close(pair.client);
            close(pair.processor);
        }
    }
    bool Listening() const { return listeners_[0].fd >= 0 && listeners_[1].fd >= 0; }
    // From now on the streams open carry garbage: nothing more of the processor, a packet of
    // size 0, some bytes, and a packet of 100 words cut after 40 bytes. Connections stay open.
    void TurnToGarbage() { garbage_ = true; }
    bool Sent() const { return sent_; }

  private:
    struct Listener {
        int fd;
        std::uint16_t port;
    };
    struct Pair {
        int client;
        int processor;
        bool garbage;
    };

    void Run() {
        std::vector<std::uint8_t> buffer(65536);
        while (!stop_) {
            std::vector<pollfd> ready;
            for (const Listener& listener : listeners_) {
                ready.push_back({listener.fd, POLLIN, 0});
            }
            for (const Pair& pair : pairs_) {
                ready.push_back({pair.client, POLLIN, 0});
                ready.push_back({pair.processor, POLLIN, 0});
            }
            poll(ready.data(), ready.size(), 5);
            for (std::size_t i = 0; i < listeners_.size(); ++i) {
                if (ready[i].revents & POLLIN) {
                    const int client = accept(listeners_[i].fd, nullptr, nullptr);
                    const int processor = Connect(back_, listeners_[i].port);
                    if (client >= 0) {
                        pairs_.push_back({client, processor, false});
                    }
                }
            }
            for (std::size_t p = 0; p < pairs_.size(); ++p) {
                Pair& pair = pairs_[p];
                if (garbage_ && !pair.garbage) {
                    pair.garbage = true;
                    std::vector<std::uint8_t> bytes(8, 0); // size 0
                    bytes.insert(bytes.end(), 24, 0x41);
                    const std::uint8_t cut[40] = {100, 1, 0, 0};
                    bytes.insert(bytes.end(), cut, cut + sizeof cut);
                    send(pair.client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
                    sent_ = true;
                }
                const std::size_t at = listeners_.size() + 2 * p;
                if (at + 1 >= ready.size()) {
                    continue; // accepted in this pass
                }
                if (ready[at].revents & (POLLIN | POLLHUP)) {
                    const ssize_t got = recv(pair.client, buffer.data(), buffer.size(), 0);
                    if (got > 0 && !pair.garbage) {
                        send(pair.processor, buffer.data(), std::size_t(got), MSG_NOSIGNAL);
                    }
                }
                if (ready[at + 1].revents & (POLLIN | POLLHUP)) {
                    // Read either way, so that the processor never waits on the relay.
                    const ssize_t got = recv(pair.processor, buffer.data(), buffer.size(), 0);
                    if (got > 0 && !pair.garbage) {
                        send(pair.client, buffer.data(), std::size_t(got), MSG_NOSIGNAL);
                    }
                }
            }
        }
    }

    std::string back_;
    std::vector<Listener> listeners_;
    std::vector<Pair> pairs_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> garbage_{false};
    std::atomic<bool> sent_{false};
    std::thread thread_;
};

TEST(StreamGarbageTest, GarbageFromTheProcessorStreamNeitherCrashesNorHoldsTheClose) {
    LINKS_REQUIRE_LOOPBACK();
    const paxsim::NetConfig net = fault_test::UseFaultNet(2);
    links_test::GenerousHandshake();
    // The processor on the wireless network, the relay at the wired network's processor address,
    // which the stream link tries first.
    paxsim::NetConfig processorNet = net;
    processorNet.wiredNet = net.wirelessNet;
    auto server = fault_test::StartLfpProcessor(processorNet, paxsim::TransportMode::Tcp, 1);
    Relay relay(net.wiredNet + ".1", net.wirelessNet + ".1", net.DataPort(), net.ConfigPort());
    ASSERT_TRUE(relay.Listening());

    ASSERT_EQ(kl_open_tcp(), KL_SUCCESS);
    fault_test::LfpFollower follower(0);
    ASSERT_TRUE(WaitFor([&] {
        follower.Poll();
        return follower.Genuine() > 200;
    }));

    relay.TurnToGarbage();
    ASSERT_TRUE(WaitFor([&] { return relay.Sent(); }));
    // Calls go on returning while the link holds half a packet and waits for the rest.
    for (int i = 0; i < 200; ++i) {
        follower.Poll();
        kl_time();
        EXPECT_GE(kl_error_check(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(follower.Wrong(), 0u) << follower.Describe();
    EXPECT_EQ(Network::OperNetwork::gNetworkState.load(), Network::OperNetwork::kLinkRunning)
        << "the connections are still open";

    // The close ends the link thread without any help from the peer.
    kl_close();
    EXPECT_EQ(gKestClient, nullptr);
    EXPECT_EQ(Network::OperNetwork::gNetworkState.load(), Network::OperNetwork::kLinkStopped);

    // A new open through the relay (fresh connections carry garbage too) fails cleanly; one to
    // the processor itself works.
    links_test::ProductHandshake();
    EXPECT_EQ(kl_open_tcp_addr((net.wiredNet + ".1").c_str()), KL_ERR_UNKNOWN);
    EXPECT_EQ(gKestClient, nullptr);
    links_test::GenerousHandshake();
    ASSERT_EQ(kl_open_tcp_addr((net.wirelessNet + ".1").c_str()), KL_SUCCESS);
    fault_test::LfpFollower again(0);
    ASSERT_TRUE(WaitFor([&] {
        again.Poll();
        return again.Genuine() > 200;
    }));
    EXPECT_EQ(again.Wrong(), 0u);
    EXPECT_EQ(kl_close(), KL_SUCCESS);
    links_test::ProductHandshake();
}

} // namespace
