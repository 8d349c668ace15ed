// The connection with the processor: the process-wide cache, configuration sender and
// running link, the start of a datagram or stream link, the start-up handshake that asks
// the processor for its modules and properties until the cache holds all of them, and the
// shutdown that tears everything down again.
//
// Everything here runs on the command thread; the link runs its own thread.
#pragma once

#include "protocol/KestPacket.h"
#include "transport/NetworkBase.h"

#include <cstddef>
#include <cstdint>

namespace Network {
namespace OperNetwork {

class TCPOperNetwork;

// The running link, owned; null when none.
NetworkBase* CurrentNetwork();
// The stream link when it is the one running, else null.
TCPOperNetwork* CurrentTCPNetwork();

// Starts a datagram link that sends to `address` (the wired network's broadcast address
// when null or empty). Refused while a link thread runs, before the network statics exist,
// or when the network settings in the environment are invalid. Makes the cache and the
// configuration sender.
bool StartUDPOper(const char* address);
NetworkBase* CreateUDPOperNetwork(const char* address);
// Starts a stream link to `address`, or (null or empty) to host 1 of the wired network and
// failing that of the wireless one.
bool StartTCPOper(const char* address = nullptr);
NetworkBase* CreateTCPOperNetwork(const char* address);

// The start-up handshake; true when the cache holds every module and property.
bool InitKestCache();
bool InitModules();
bool InitProperties();
void SetStimData();
void InitTrialDesc();

// Ends the connection: cancels the configuration sender's timed tasks, stops and joins
// the link thread, destroys the link, the cache and the sender, and zeroes both rings.
// Safe without a connection.
void NetworkShutdown();

// Reserve and publish on "configBuffer", for a writer that holds its write mutex.
KestPacket* NewConfigPacket(std::size_t size);
void SendConfigPacket(KestPacket* packet);
// The running link's received configuration packets; null when no link runs. The link
// thread drains them itself, so these serve a link that has been stopped or a test.
KestPacket* RecvConfigPacket();
bool DeleteConfigPacket(const KestPacket* packet);

// Bounds of the handshake; the defaults suit a processor on a local network. The cache is
// polled every `pollUs` within each wait.
struct HandshakeLimits {
    unsigned startWaitPolls = 20;   // x 50 ms for the link thread to come up
    unsigned moduleWaitMs = 1000;   // for the module list
    unsigned moduleResendMs = 250;  // between sends of the first requests while none answers
    unsigned propertyAttempts = 3;  // rounds of property requests
    unsigned propertyWaitMs = 1000; // per round
    unsigned propertyResendMs = 50; // quiet before missing properties are asked again
    unsigned pollUs = 1000;         // between two looks at the cache
    unsigned progressFactor = 10;   // a phase that sees progress runs up to this many bounds
    unsigned requestPacingUs = 200; // between the property requests of one round
};
HandshakeLimits& Limits();

} // namespace OperNetwork
} // namespace Network
