// TCPOperNetwork: the stream link to the processor, which can also hold connections to
// operator applications. Two TCP streams reach the processor (data on BASE+1, configuration
// on BASE+2) at the given address, or at host 1 of the wired network and, when that fails,
// of the wireless network. One thread sends the published "configBuffer" on the
// configuration stream and hands everything received, from the processor or from an
// operator, to the cache.
//
// Operators are added by the command thread while the link thread walks them; a mutex
// guards the map, and the link thread takes a copy of the client pointers before it hands
// anything to the cache, so no lock of the link is held while the cache calls back.
#pragma once

#include "links/NetConfig.h"
#include "links/OperClient.h"
#include "transport/CircularKestBuffer.h"
#include "transport/IOClient.h"
#include "transport/NetworkBase.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class KestCache;

namespace Network {
namespace OperNetwork {

// Endpoint limits of the processor streams.
constexpr std::uint64_t kTcpChunkLimit = 131072;
constexpr std::uint64_t kTcpReceiveCapacity = 131072;
// Longest wait for one processor stream to connect.
constexpr int kProcessorConnectMs = 750;

class TCPOperNetwork : public NetworkBase {
  public:
    // Link states.
    static constexpr std::int32_t kStarting = 0;
    static constexpr std::int32_t kRunning = 1;
    static constexpr std::int32_t kStopRequested = 2;
    static constexpr std::int32_t kEnded = 3;
    static constexpr std::int32_t kFailed = 4;

    // Feeds `cache` (not owned). An empty address means host 1 of the wired network, else
    // of the wireless one; any other address is the only one tried.
    TCPOperNetwork(KestCache* cache, const char* address, const NetConfig& config);
    ~TCPOperNetwork() override;

    // Reads what waits on the configuration (data) stream without waiting and returns the
    // first whole packet held, or null; link thread only.
    KestPacket* RecvConfigPacket() override;
    bool DeleteConfigPacket(const KestPacket* packet) override;
    // Asks the thread to stop and waits for it.
    void Shutdown() override;
    virtual KestPacket* RecvDataPacket();
    virtual bool DeleteDataPacket(const KestPacket* packet);

    // Connects both processor streams (see the file comment).
    bool Initialize(const char* address);
    // The thread body.
    void ServerMain();
    // Launches the thread and waits until it has connected (true) or failed.
    bool StartUp();

    // Connects the operator at `address` on the operator port within the timeout. An
    // operator already connected keeps its connection and the new one is closed; one whose
    // connection has gone gets the new one.
    bool ConnectOperator(const char* address, int timeoutMs);
    // The connection of an operator id, or null.
    OperClient* FindOperator(std::uint32_t id);
    // Smallest operator id whose connection is up; 0xFFFFFFFF when none.
    std::uint32_t FirstConnectedOperator();
    // Every operator id in the map.
    std::vector<std::uint32_t> OperatorIds();

    std::int32_t LinkState() const { return state_.load(std::memory_order_seq_cst); }
    // The processor address both streams are connected to (empty before).
    std::string ProcessorAddress() const;

  private:
    // Connects one stream of `address`; the socket or -1.
    net::sock_t ConnectStream(const std::string& address, unsigned short port);
    bool ConnectBoth(const std::string& address);
    // Hands every whole packet held by `endpoint` to the cache as received from `source`,
    // under one hold of the cache's lock.
    void FeedCache(IOClient& endpoint, std::uint32_t source);
    void ServeOperators();

    KestCache* cache_;
    NetConfig config_;
    std::string address_;
    IOClient configEndpoint_;
    IOClient dataEndpoint_;
    std::mutex operatorMutex_;
    std::map<std::uint32_t, std::unique_ptr<OperClient>> operators_;
    std::vector<std::unique_ptr<OperClient>> retired_; // replaced connections that had gone
    std::vector<std::unique_ptr<CircularKestBuffer>> operatorRings_;
    std::vector<OperClient*> walk_; // link thread only
    std::atomic<std::int32_t> state_{kEnded};
    mutable std::mutex addressMutex_;
    std::string connectedAddress_;
    std::thread thread_;
};

} // namespace OperNetwork
} // namespace Network
