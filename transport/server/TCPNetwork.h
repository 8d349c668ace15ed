// TCPNetwork: the packet server over TCP. Two listening sockets, one for data clients and
// one for config clients, at most ten of each. Data clients receive every data packet
// published after they joined; config clients receive the published configuration packets
// and send configuration packets of their own, which the producer takes with
// RecvConfigPacket. A thread of its own serves everyone in passes of 50 ms.
#pragma once

#include "transport/CircularKestBuffer.h"
#include "transport/IOClient.h"
#include "transport/NetworkBase.h"
#include "transport/NetworkExport.h"
#include "transport/OutputClient.h"
#include "transport/Socket.h"
#include "transport/StartupGate.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <thread>
#include <vector>

namespace Network {

class KEST_NETWORK_API TCPNetwork : public NetworkBase {
  public:
    static constexpr std::size_t kMaxClients = 10;
    static constexpr std::uint64_t kChunkLimit = 131072;
    static constexpr std::uint64_t kReceiveCapacity = 131072;
    static constexpr int kListenBacklog = 5;
    static constexpr std::chrono::milliseconds kPassInterval{50};

    // Listeners on (address, port) for both ports; every local address when address is
    // null. Port 0 takes any free port (see DataPort, ConfigPort). Serves the packet server
    // family's rings.
    TCPNetwork(unsigned short configPort, unsigned short dataPort, const char* address = nullptr);
    // Shuts the thread down when it still runs.
    ~TCPNetwork() override;

    KestPacket* RecvConfigPacket() override;
    bool DeleteConfigPacket(const KestPacket* packet) override;
    // Stops the thread at once (it does not sleep out its pass) and waits for it; every
    // client is disconnected. Packets received before stay to be taken until destruction.
    void Shutdown() override;

    // Launches the thread and waits until the listeners are set up; true when they are.
    bool Start();

    unsigned short DataPort() const { return dataPort_.load(); }
    unsigned short ConfigPort() const { return configPort_.load(); }
    std::size_t DataClientCount() const { return dataClientCount_.load(); }
    std::size_t ConfigClientCount() const { return configClientCount_.load(); }

  protected:
    TCPNetwork(unsigned short configPort, unsigned short dataPort, const char* address,
               CircularKestBuffer& dataRing, CircularKestBuffer& configRing);

  private:
    bool Initialize();
    void ServerMain();
    void RemoveDeadClients();
    void SendAll();
    void RecvAll();
    void CheckForConnections();
    void ConnectDataClient();
    void ConnectConfigClient();
    // A data client sends nothing; reading its socket tells when it went away.
    void CheckDataClientsClosed();
    void DisconnectAll();

    net::UniqueSocket dataListener_;
    net::UniqueSocket configListener_;
    std::vector<std::unique_ptr<OutputClient>> dataClients_;
    std::vector<std::unique_ptr<IOClient>> configClients_;
    sockaddr_in dataAddress_;
    sockaddr_in configAddress_;
    bool addressValid_;
    std::thread thread_;
    std::atomic<bool> stop_{false};

    CircularKestBuffer& dataRing_;
    CircularKestBuffer& configRing_;
    // The server thread changes the client lists under this mutex; the producer walks the
    // config clients under it.
    std::mutex clientsMutex_;
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    StartupGate startup_;
    std::atomic<unsigned short> dataPort_{0};
    std::atomic<unsigned short> configPort_{0};
    std::atomic<std::size_t> dataClientCount_{0};
    std::atomic<std::size_t> configClientCount_{0};
};

} // namespace Network
