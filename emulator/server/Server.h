// The emulated processor on the network: UDP (requests on BASE+2, answers and data to the
// client's address on BASE+1, datagrams of whole packets of at most 1440 bytes) and TCP
// (presence listener on BASE, data on BASE+1, configuration on BASE+2) at NET.1, plus
// optional recording operators at NET.h (h >= 128) on TCP BASE+2. One thread runs the
// sockets, the model and the data generator, paced by a monotonic clock at 30 kHz.
// Every public call is thread-safe.
#pragma once

#include "emulator/model/OperatorModel.h"
#include "emulator/model/ProcessorModel.h"
#include "emulator/server/Fd.h"
#include "emulator/server/NetConfig.h"
#include "emulator/server/OperatorHosts.h"
#include "emulator/signal/DataGenerator.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace paxsim {

enum class TransportMode { Udp, Tcp, Both };

struct ServerOptions {
    TransportMode mode = TransportMode::Udp;
    NetConfig net;
    std::uint32_t startTime = 30000;     // processor time at start (ticks)
    std::uint32_t heartbeatTicks = 3000; // a module-0 packet this often
    std::uint32_t restartMs = 1000;      // silence of a processor restart
    double loss = 0;                     // share of data datagrams (TCP: data packets) dropped
    std::uint32_t lossSeed = 7;
    std::vector<unsigned> operators;         // host parts (128-254) of emulated operators
    std::vector<unsigned> wirelessOperators; // host parts of operators at WIRELESS.h only
    std::uint32_t operatorSettleMs = 50;
};

struct ServerStats {
    std::uint64_t packetsSent = 0;
    std::uint64_t datagramsSent = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t datagramsDropped = 0;
    std::uint64_t packetsDropped = 0; // data packets lost with their datagrams (TCP: on their own)
    std::uint64_t packetsReceived = 0;
    std::uint64_t restarts = 0;
    unsigned udpClients = 0;
    unsigned tcpConfigClients = 0;
    unsigned tcpDataClients = 0;
    double threadCpuSeconds = 0; // of the server thread
    double wallSeconds = 0;
    std::uint32_t maxLagTicks = 0; // largest distance between the clock and the data sent
};

class Server {
  public:
    Server(ModelConfig model, DataConfig data, ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds every socket (throws std::runtime_error with the reason) and starts the thread.
    void Start();
    void Stop();
    bool Running() const { return running_.load(); }

    std::uint32_t Now() const;
    // The processor time up to which data has been handed to the network: the clock as of
    // the last pass that has ended (the pass under way may have sent more already). Now()
    // less this is how late the emulator itself is.
    std::uint32_t DataSentUpTo() const { return dataSentUpTo_.load(); }
    std::string ProcessorAddress() const { return processorAddress_; }
    const ServerOptions& Options() const { return options_; }

    // Runs fn(model, generator) under the server's lock.
    template <typename Fn> auto WithModel(Fn&& fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        return fn(model_, generator_);
    }

    void InjectError(std::uint32_t level, std::uint32_t code, const std::string& text);
    bool PressButton(const std::string& button);
    // Nothing is sent or answered for ms milliseconds; the data of that time is lost.
    void Silence(std::uint32_t ms);
    // Whether the processor is silent now (after Silence or while it restarts).
    bool Silent() const;
    // A new front end starts streaming without being announced; its hardware module id,
    // 0 when every position is taken.
    std::uint8_t ConfigChange(FrontEndKind kind);
    void SetLoss(double share);
    void InjectDigital(std::uint16_t parallel);
    void RequestRestart();
    // Operators are named by host part or dotted address (see OperatorHosts); false or -1
    // when there is no such operator.
    bool SetOperatorError(unsigned host, const std::string& text);
    // Runs fn(operator) under the server's lock on the emulated operator at `host`; false
    // when there is none.
    template <typename Fn> bool WithOperator(unsigned host, Fn&& fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        const int at = operators_.Find(std::to_string(host));
        if (at < 0) {
            return false;
        }
        fn(*operators_.At(at).model);
        return true;
    }
    std::int32_t OperatorTrialStatus(unsigned host);
    bool SetOperatorError(const std::string& name, const std::string& text);
    std::int32_t OperatorTrialStatus(const std::string& name);
    bool SetOperatorTrialStatus(const std::string& name, std::int32_t status);
    // A silent operator reads what it is sent and answers nothing.
    bool SetOperatorSilent(const std::string& name, bool silent);
    // Closes every connection to the operator; it goes on listening.
    bool DropOperatorConnections(const std::string& name);
    // The processor id the operator writes into its packets (150 unless changed).
    bool SetOperatorProcId(const std::string& name, std::uint8_t id);
    ServerStats Stats() const;

  private:
    struct TcpClient {
        Fd fd;
        bool data = false;
        int operatorHost = -1; // index of the operator (OperatorHosts), -1 for the processor
        std::vector<std::uint8_t> in;
        std::vector<std::uint8_t> out;
        std::size_t outOffset = 0;
    };
    struct Listener {
        Fd fd;
        enum Kind { Presence, Data, Config, Operator } kind;
        unsigned host = 0;
    };

    void Run();
    void ReceiveUdp(std::uint32_t now);
    void AcceptTcp();
    void ReadTcp(std::uint32_t now);
    void HandleFromClient(const std::uint8_t* packet, std::size_t bytes, std::uint32_t now,
                          int operatorHost, Outbox& reply);
    void SendUdp(const sockaddr_in& to, const Outbox& box, bool lossy);
    void Queue(TcpClient& client, const std::uint8_t* bytes, std::size_t size);
    void QueueLossy(TcpClient& client, const Outbox& box);
    void FlushTcp();
    void DoRestart(std::uint32_t now);
    bool DropNext();

    ServerOptions options_;
    std::string processorAddress_;
    mutable std::mutex mutex_;
    ProcessorModel model_;
    DataGenerator generator_;
    OperatorHosts operators_;
    Outbox pendingAll_; // packets queued by API calls for every client
    std::uint32_t silentUntil_ = 0;
    bool silent_ = false;
    bool restartRequested_ = false;

    std::vector<Fd> udp_;
    std::vector<Listener> listeners_;
    std::vector<std::unique_ptr<TcpClient>> tcpClients_;
    std::vector<sockaddr_in> udpClients_;

    Outbox dataOut_, configOut_, reply_;
    std::uint32_t generated_ = 0;
    std::atomic<std::uint32_t> dataSentUpTo_{0};
    std::uint32_t nextHeartbeat_ = 0;
    std::uint64_t lossCounter_ = 0;
    // The loss share, changed by the control thread while the server thread reads it.
    std::atomic<double> loss_{0};

    std::chrono::steady_clock::time_point start_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    mutable std::mutex statsMutex_;
    ServerStats stats_;
};

// Cuts packets (back to back) into datagrams of whole packets of at most limit bytes and
// calls fn(begin, bytes) for each; returns the number of datagrams.
template <typename Fn>
std::size_t ForEachDatagram(const std::uint8_t* bytes, std::size_t size, std::size_t limit,
                            Fn&& fn) {
    std::size_t datagrams = 0, begin = 0, at = 0;
    while (at < size) {
        std::size_t packet = std::size_t(bytes[at]) * 4;
        if (packet == 0 || at + packet > size) {
            break;
        }
        if (at + packet - begin > limit && at > begin) {
            fn(bytes + begin, at - begin);
            ++datagrams;
            begin = at;
        }
        at += packet;
    }
    if (at > begin) {
        fn(bytes + begin, at - begin);
        ++datagrams;
    }
    return datagrams;
}

} // namespace paxsim
