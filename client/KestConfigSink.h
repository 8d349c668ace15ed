// Where the configuration sender writes its packets for the processor: a packet ring that
// the link thread reads and sends from.
//
// Several threads send configuration packets (the command thread, a timed event, the link's
// own start-up requests). Each holds the ring's write mutex for its whole reserve-fill-publish
// sequence, so that no writer publishes another's half-filled packet and two reservations
// never interleave.
#pragma once

#include "protocol/KestPacket.h"
#include "transport/CircularKestBuffer.h"

#include <cstddef>
#include <mutex>

class KestConfigSink {
  public:
    virtual ~KestConfigSink() = default;

    // Serialises the writers of this sink; held from the first reserve to the publish.
    virtual std::mutex& WriteMutex() = 0;
    // Reserves `size` bytes (rounded up to whole words) for one packet, zeroed. Null when the
    // ring cannot hold it. Only with WriteMutex() held.
    virtual KestPacket* NewConfigPacket(std::size_t size) = 0;
    // Publishes every packet reserved so far. Only with WriteMutex() held.
    virtual void SendConfigPacket() = 0;
};

// A sink over a packet ring, by default the client links' "configBuffer".
class KestRingSink : public KestConfigSink {
  public:
    explicit KestRingSink(Network::CircularKestBuffer& ring) : ring_(ring) {}

    std::mutex& WriteMutex() override { return ring_.WriteMutex(); }
    KestPacket* NewConfigPacket(std::size_t size) override;
    void SendConfigPacket() override;

    Network::CircularKestBuffer& Ring() { return ring_; }

  private:
    Network::CircularKestBuffer& ring_;
};

// The sink over the client links' "configBuffer", shared by every sender of the process. It
// reserves nothing (null) once the link thread has stopped.
KestRingSink& KestDefaultConfigSink();
