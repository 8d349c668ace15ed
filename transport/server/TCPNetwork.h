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

    unsigned short DataPort() const { return m_dataPort.load(); }
    unsigned short ConfigPort() const { return m_configPort.load(); }
    std::size_t DataClientCount() const { return m_dataClientCount.load(); }
    std::size_t ConfigClientCount() const { return m_configClientCount.load(); }

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

    net::UniqueSocket m_dataListener;
    net::UniqueSocket m_configListener;
    std::vector<std::unique_ptr<OutputClient>> m_dataClients;
    std::vector<std::unique_ptr<IOClient>> m_configClients;
    sockaddr_in m_dataAddress;
    sockaddr_in m_configAddress;
    bool m_addressValid;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};

    CircularKestBuffer& m_dataRing;
    CircularKestBuffer& m_configRing;
    // The server thread changes the client lists under this mutex; the producer walks the
    // config clients under it.
    std::mutex m_clientsMutex;
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    StartupGate m_startup;
    std::atomic<unsigned short> m_dataPort{0};
    std::atomic<unsigned short> m_configPort{0};
    std::atomic<std::size_t> m_dataClientCount{0};
    std::atomic<std::size_t> m_configClientCount{0};
};

} // namespace Network
