#include "cache/SpikeDataBuffer.h"

#include <algorithm>
#include <cstring>
#include <limits>

template <typename T>
SpikeDataBuffer<T>::SpikeDataBuffer(std::uint32_t capacity)
    : capacity_(capacity), ring_(capacity), sequences_(capacity), missing_(capacity) {}

template <typename T> SpikeDataBuffer<T>::~SpikeDataBuffer() = default;

template <typename T> void SpikeDataBuffer<T>::AddEventPacket(const T* packet, int sequence) {
    if (capacity_ != 0) {
        T& slot = ring_[nextSlot_];
        // Packets may sit anywhere in a receive buffer: copy the bytes, not the object.
        std::memcpy(static_cast<void*>(&slot), packet, sizeof(T));
        // A longer packet is stored cut to the record: its size byte says what was stored.
        constexpr std::uint8_t kStoredWords = sizeof(T) / 4;
        if (slot.header.size > kStoredWords) {
            slot.header.size = kStoredWords;
        }
        sequences_[nextSlot_] = sequence;
        if (++nextSlot_ == capacity_) {
            nextSlot_ = 0;
        }
    }
    if (count_ > 0) {
        const std::uint16_t gap = static_cast<std::uint16_t>(
            static_cast<std::uint16_t>(sequence) - static_cast<std::uint16_t>(previousSequence_));
        if (gap >= 2 && gap <= 0xFFFE) {
            std::uint32_t time = 0;
            std::memcpy(&time, reinterpret_cast<const unsigned char*>(packet) + 4, sizeof time);
            if (capacity_ != 0) {
                missing_[missingNext_] = MissingEvent(time, gap);
                if (++missingNext_ == capacity_) {
                    missingNext_ = 0;
                }
                missingHeld_ = std::min(missingHeld_ + 1, capacity_);
            }
            // Every packet the gap skipped is one lost: the count is of packets, not of gaps.
            const std::uint32_t lost = std::uint32_t(gap) - 1;
            missingCount_ = missingCount_ > std::numeric_limits<std::uint32_t>::max() - lost
                                ? std::numeric_limits<std::uint32_t>::max()
                                : missingCount_ + lost;
        }
    }
    previousSequence_ = sequence;
    if (count_ != std::numeric_limits<std::uint32_t>::max()) {
        ++count_;
    }
}

template <typename T> std::uint32_t SpikeDataBuffer<T>::Held(std::uint32_t limit) const {
    return std::min({limit, count_, capacity_});
}

template <typename T> std::uint32_t SpikeDataBuffer<T>::FirstSlot(std::uint32_t n) const {
    return nextSlot_ >= n ? nextSlot_ - n : nextSlot_ + (capacity_ - n);
}

template <typename T>
std::uint32_t SpikeDataBuffer<T>::GetEventPackets(T* dest, int* destSequences, std::uint32_t max) {
    if (dest == nullptr) {
        Rezero();
        return 0;
    }
    const std::uint32_t n = Held(max);
    const std::uint32_t first = FirstSlot(n);
    const std::uint32_t head = std::min(n, capacity_ - first);
    std::copy_n(ring_.data() + first, head, dest);
    std::copy_n(ring_.data(), n - head, dest + head);
    if (destSequences != nullptr) {
        std::copy_n(sequences_.data() + first, head, destSequences);
        std::copy_n(sequences_.data(), n - head, destSequences + head);
    }
    const std::uint32_t arrived = count_;
    Rezero();
    return arrived;
}

template <typename T> SpikeEventBlock<T> SpikeDataBuffer<T>::GetEventPackets() {
    SpikeEventBlock<T> block;
    const std::uint32_t n = Held(capacity_);
    block.records.resize(n);
    const std::uint32_t first = FirstSlot(n);
    const std::uint32_t head = std::min(n, capacity_ - first);
    std::copy_n(ring_.data() + first, head, block.records.data());
    std::copy_n(ring_.data(), n - head, block.records.data() + head);
    block.count = count_;
    block.missing = missingCount_;
    Rezero();
    return block;
}

template <typename T> std::pair<std::uint32_t, std::uint32_t> SpikeDataBuffer<T>::GetEventCount() {
    std::pair<std::uint32_t, std::uint32_t> counts(missingCount_, count_);
    Rezero();
    return counts;
}

template <typename T>
std::pair<std::vector<std::uint32_t>, std::uint32_t> SpikeDataBuffer<T>::GetEventTimes() {
    const std::uint32_t n = Held(capacity_);
    std::vector<std::uint32_t> times;
    times.reserve(n);
    std::uint32_t slot = FirstSlot(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        times.push_back(ring_[slot].header.timestamp);
        if (++slot == capacity_) {
            slot = 0;
        }
    }
    std::pair<std::vector<std::uint32_t>, std::uint32_t> result(std::move(times), missingCount_);
    Rezero();
    return result;
}

template <typename T> void SpikeDataBuffer<T>::Rezero() {
    // Since the last clear only the slots from 0 up have been written.
    const std::uint32_t used = std::min(count_, capacity_);
    if (used != 0) {
        std::memset(static_cast<void*>(ring_.data()), 0, std::size_t(used) * sizeof(T));
    }
    std::fill_n(sequences_.data(), used, 0);
    count_ = 0;
    nextSlot_ = 0;
    previousSequence_ = 0;
    missingNext_ = 0;
    missingHeld_ = 0;
    missingCount_ = 0;
}

template <typename T>
std::vector<typename SpikeDataBuffer<T>::MissingEvent> SpikeDataBuffer<T>::GetMissingEvents() {
    std::vector<MissingEvent> gaps;
    gaps.reserve(missingHeld_);
    std::uint32_t slot = missingNext_ >= missingHeld_ ? missingNext_ - missingHeld_
                                                      : missingNext_ + (capacity_ - missingHeld_);
    for (std::uint32_t i = 0; i < missingHeld_; ++i) {
        gaps.push_back(missing_[slot]);
        if (++slot == capacity_) {
            slot = 0;
        }
    }
    missingNext_ = 0;
    missingHeld_ = 0;
    missingCount_ = 0;
    return gaps;
}

template class SpikeDataBuffer<KestSegmentDataPacketFixed>;
template class SpikeDataBuffer<KestDigitalEventPacket>;
