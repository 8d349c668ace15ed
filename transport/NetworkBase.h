// NetworkBase: a running link or server, seen from the thread that owns it: received
// configuration packets are taken out one at a time and released, and Shutdown stops the
// link's thread and waits for it.
#pragma once

#include "protocol/KestPacket.h"
#include "transport/NetworkExport.h"

namespace Network {

class KEST_NETWORK_API NetworkBase {
  public:
    NetworkBase() = default;
    virtual ~NetworkBase();
    NetworkBase(const NetworkBase&) = delete;
    NetworkBase& operator=(const NetworkBase&) = delete;

    // The next received configuration packet, or null; it stays valid until released.
    virtual KestPacket* RecvConfigPacket() = 0;
    // Releases a packet that RecvConfigPacket gave; false when it is not the one to release.
    virtual bool DeleteConfigPacket(const KestPacket* packet) = 0;
    // Stops the thread and waits for it. Safe to call more than once.
    virtual void Shutdown() = 0;
};

} // namespace Network
