// SpikeDataBuffer: the ring of the newest event packets of one segment stream (spike or
// stimulation waveforms) or of the digital input stream.
//
// The receive thread adds every packet with its 16-bit sequence number and notes each
// sequence gap. Every read is destructive: it returns what arrived since the previous read
// (at most the newest `capacity` packets, oldest first) and clears the ring, so that each
// event is seen once.
//
// The cache lock covers every call; the ring has no lock of its own.
#pragma once

#include "cache/ZeroedArray.h"

#include "protocol/KestPacket.h"

#include <cstdint>
#include <utility>
#include <vector>

// Result of draining a ring into a list.
template <typename T> struct SpikeEventBlock {
    std::vector<T> records;    // the newest packets that arrived since the previous read
    std::uint32_t count = 0;   // packets that arrived since the previous read (may exceed
                               // records.size() when older ones were overwritten)
    std::uint32_t missing = 0; // packets the sequence gaps since the previous read skipped
};

template <typename T> class SpikeDataBuffer {
  public:
    // (time of the packet after the gap, distance between the two sequence numbers)
    using MissingEvent = std::pair<std::uint32_t, std::uint32_t>;

    // Allocates `capacity` record slots and room for `capacity` gap entries; nothing is
    // allocated after this.
    explicit SpikeDataBuffer(std::uint32_t capacity);
    virtual ~SpikeDataBuffer();
    SpikeDataBuffer(const SpikeDataBuffer&) = delete;
    SpikeDataBuffer& operator=(const SpikeDataBuffer&) = delete;

    // Stores a copy of the record, overwriting the oldest once the ring is full; a packet
    // longer than the record is cut to it, and so is its size byte. A sequence
    // number that is not the previous one plus 1 (mod 2^16), nor a repeat of it or one less,
    // is noted as a gap.
    virtual void AddEventPacket(const T* packet, int sequence);

    // Copies the newest min(max, capacity) packets, oldest first, into dest (and their
    // sequence numbers into destSequences when given), clears the ring and returns the number
    // of packets that arrived since the previous read. A null dest only clears and returns 0.
    virtual std::uint32_t GetEventPackets(T* dest, int* destSequences, std::uint32_t max);
    // The same into a list, with the missing count; clears.
    virtual SpikeEventBlock<T> GetEventPackets();
    // (missing count, packet count) since the previous read; clears.
    virtual std::pair<std::uint32_t, std::uint32_t> GetEventCount();
    // (times of the newest packets oldest first, missing count); clears.
    virtual std::pair<std::vector<std::uint32_t>, std::uint32_t> GetEventTimes();
    // Empties the ring, the sequence numbers and the gap list.
    virtual void Rezero();

    // The gaps noted since the last clear, oldest first, and forgets them. At most `capacity`
    // gaps are kept: beyond that the oldest entry gives way, while the missing count that the
    // reads report (the packets every gap skipped: a gap of d counts d - 1) counts them all.
    std::vector<MissingEvent> GetMissingEvents();

    std::uint32_t GetCapacity() const { return capacity_; }
    std::uint32_t GetCount() const { return count_; }
    std::uint32_t GetMissingCount() const { return missingCount_; }

  private:
    // Number of the newest records that a read returns: min(limit, count, capacity).
    std::uint32_t Held(std::uint32_t limit) const;
    // Slot of the oldest of the newest `n` records.
    std::uint32_t FirstSlot(std::uint32_t n) const;

    std::uint32_t capacity_;
    // Packets since the last clear; stops at the largest u32 rather than wrapping to a small
    // number.
    std::uint32_t count_ = 0;
    std::uint32_t nextSlot_ = 0; // slot of the next packet, below capacity_
    // Zeroed and untouched until used (see ZeroedArray).
    ZeroedArray<T> ring_;
    ZeroedArray<int> sequences_;
    int previousSequence_ = 0;

    // Gap list: a ring of the newest `capacity` gaps.
    std::vector<MissingEvent> missing_;
    std::uint32_t missingNext_ = 0;
    std::uint32_t missingHeld_ = 0;
    std::uint32_t missingCount_ = 0; // packets every gap since the last clear skipped
};

extern template class SpikeDataBuffer<KestSegmentDataPacketFixed>;
extern template class SpikeDataBuffer<KestDigitalEventPacket>;
