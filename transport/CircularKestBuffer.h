// CircularKestBuffer: a byte ring of KEST packets with one writer and any number of readers
// that keep their own positions.
//
// The writer reserves a contiguous area, fills it with a packet in place and publishes it.
// It never waits for readers: a reader that falls a whole ring behind notices it by the
// heads (see OutputClient) and skips ahead. The heads grow without bound; a ring offset is a
// head modulo the capacity. An area that does not fit before the end of the ring starts at
// the beginning instead, and the skipped tail counts as written; the lap end records where
// the valid bytes of the lap before end.
//
// Only one thread may run a reserve-fill-publish sequence at a time. Where several threads
// write into one ring, each takes the ring's WriteMutex() for its whole sequence
// (RingWriter does that). Readers take no lock.
#pragma once

#include "transport/NetworkExport.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace Network {

// Size of the process-wide rings and of an operator's ring.
constexpr std::uint64_t kKestRingCapacity = 16u * 1024u * 1024u;

class KEST_NETWORK_API CircularKestBuffer {
  public:
    // Allocates `capacity` bytes (a positive multiple of 4) and touches every page so that
    // nothing faults in on the packet path. `name` is not copied and must outlive the ring.
    CircularKestBuffer(std::uint64_t capacity, const char* name);
    ~CircularKestBuffer();
    CircularKestBuffer(const CircularKestBuffer&) = delete;
    CircularKestBuffer& operator=(const CircularKestBuffer&) = delete;

    // A contiguous, 4-byte aligned area of at least `size` bytes (rounded up to a multiple
    // of 4) for the writer to fill. Null when the rounded size exceeds the capacity.
    std::uint8_t* Reserve(std::size_t size);
    // Makes everything reserved so far visible to readers.
    void Publish();
    // A descriptor (an eventfd) that every publish writes to, so that a reader sleeping on it
    // wakes at once; -1 (the default) for none. Setting -1 returns once no publish still
    // writes to the descriptor set before, which may then be closed.
    void SetPublishSignal(int descriptor);
    // Zeroes the bytes and rewinds both heads; only while no reader uses the ring.
    void Reset();

    std::uint64_t Capacity() const { return capacity_; }
    const char* Name() const { return name_; }
    // Readers load the published head first (acquire), then the lap end and the bytes.
    std::uint64_t LapEnd() const { return lapEnd_.load(std::memory_order_relaxed); }
    std::uint64_t WriteHead() const { return writeHead_.load(std::memory_order_relaxed); }
    std::uint64_t PublishedHead() const { return publishedHead_.load(std::memory_order_acquire); }
    const std::uint8_t* Data() const { return data_.get(); }
    std::uint8_t* Data() { return data_.get(); }

    // Serialises writers where more than one thread writes into the ring.
    std::mutex& WriteMutex() { return writeMutex_; }

  private:
    std::unique_ptr<std::uint8_t[]> data_;
    const std::uint64_t capacity_;
    const char* name_;
    // The writer's fields and the published head sit on cache lines of their own, away
    // from what readers poll.
    alignas(64) std::atomic<std::uint64_t> lapEnd_;
    std::atomic<std::uint64_t> writeHead_{0};
    alignas(64) std::atomic<std::uint64_t> publishedHead_{0};
    std::atomic<int> publishSignal_{-1};
    std::atomic<int> signalling_{0}; // publishes writing to the signal now
    alignas(64) std::mutex writeMutex_;
};

// One writer's turn on a ring shared by several writing threads: holds the ring's write
// mutex from construction (before the reserve) to destruction (after the publish).
class KEST_NETWORK_API RingWriter {
  public:
    explicit RingWriter(CircularKestBuffer& ring) : ring_(ring), lock_(ring.WriteMutex()) {}
    std::uint8_t* Reserve(std::size_t size) { return ring_.Reserve(size); }
    void Publish() { ring_.Publish(); }

  private:
    CircularKestBuffer& ring_;
    std::lock_guard<std::mutex> lock_;
};

} // namespace Network
