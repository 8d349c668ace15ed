// The packet server family: its two process-wide rings, its state, and the calls by which
// a program serves KEST packets to peers over TCP or UDP.
//
// The producer publishes data packets with NewDataPacket/SendDataPacket and configuration
// packets with NewConfigPacket/SendConfigPacket; the running server sends them to its data
// and config clients. Configuration packets that clients send are taken with
// RecvConfigPacket and released with DeleteConfigPacket. The control calls (start, shutdown,
// taking packets) belong to one thread; each ring has one writer at a time (see
// CircularKestBuffer).
#pragma once

#include "protocol/KestPacket.h"
#include "transport/CircularKestBuffer.h"
#include "transport/NetworkBase.h"
#include "transport/NetworkExport.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace Network {

// Values of gCurrentNetwork.
constexpr std::int32_t kNoNetwork = 0;
constexpr std::int32_t kTCPNetwork = 1;
constexpr std::int32_t kUDPNetwork = 2;
// Values of gNetworkState.
constexpr std::int32_t kNetworkNeverStarted = 0;
constexpr std::int32_t kNetworkRunning = 1;
constexpr std::int32_t kNetworkStopped = 2;

// "dataBuffer" and "configBuffer" of the server family, 16 MiB each, made at load.
extern KEST_NETWORK_API CircularKestBuffer gDataBuffer;
extern KEST_NETWORK_API CircularKestBuffer gConfigBuffer;
// Which server runs (kNoNetwork, kTCPNetwork, kUDPNetwork) and whether its thread runs.
extern KEST_NETWORK_API std::atomic<std::int32_t> gCurrentNetwork;
extern KEST_NETWORK_API std::atomic<std::int32_t> gNetworkState;

// True once the family's rings are made (load time) and until they are destroyed.
KEST_NETWORK_API bool ServerStaticsReady();

// Starts a TCP server with listeners on the two ports of `address` (every local address
// when null). False when a server runs already, or when the listeners cannot be set up.
KEST_NETWORK_API bool StartTCP(unsigned short config_port, unsigned short data_port,
                               const char* address = nullptr);
// Starts a UDP server: one socket bound to (address, port) that sends to (address,
// second_port), or to (address, port) itself when second_port is 0. False when a server
// runs already, the address is missing or bad, or the socket cannot be set up.
KEST_NETWORK_API bool StartUDP(unsigned short port, unsigned short second_port, const char* address,
                               bool broadcast);
// Stops and destroys the running server; safe to call with none.
KEST_NETWORK_API void NetworkShutdown();
// The running server, or null; for reading its ports.
KEST_NETWORK_API NetworkBase* RunningServer();

// Reserve in "dataBuffer" and publish it.
KEST_NETWORK_API KestPacket* NewDataPacket(std::size_t size);
KEST_NETWORK_API void SendDataPacket(KestPacket* packet);
// Reserve in "configBuffer" and publish it; the server sends it to its config clients.
KEST_NETWORK_API KestPacket* NewConfigPacket(std::size_t size);
KEST_NETWORK_API void SendConfigPacket(KestPacket* packet);
// The running server's next received configuration packet (null when none or no server),
// and its release.
KEST_NETWORK_API KestPacket* RecvConfigPacket();
KEST_NETWORK_API bool DeleteConfigPacket(const KestPacket* packet);

} // namespace Network
