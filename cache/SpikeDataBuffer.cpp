#include "cache/SpikeDataBuffer.h"

#include <algorithm>
#include <cstring>
#include <limits>

template <typename T>
SpikeDataBuffer<T>::SpikeDataBuffer(std::uint32_t capacity)
    : m_capacity(capacity), m_ring(capacity), m_sequences(capacity, 0), m_missing(capacity) {
    // value-initialised records are all-zero bytes
}

template <typename T> SpikeDataBuffer<T>::~SpikeDataBuffer() = default;

template <typename T> void SpikeDataBuffer<T>::AddEventPacket(const T* packet, int sequence) {
    if (m_capacity != 0) {
        T& slot = m_ring[m_nextSlot];
        // Packets may sit anywhere in a receive buffer: copy the bytes, not the object.
        std::memcpy(static_cast<void*>(&slot), packet, sizeof(T));
        m_sequences[m_nextSlot] = sequence;
        if (++m_nextSlot == m_capacity) {
            m_nextSlot = 0;
        }
    }
    if (m_count > 0) {
        const std::uint16_t gap = static_cast<std::uint16_t>(
            static_cast<std::uint16_t>(sequence) - static_cast<std::uint16_t>(m_previousSequence));
        if (gap >= 2 && gap <= 0xFFFE) {
            std::uint32_t time = 0;
            std::memcpy(&time, reinterpret_cast<const unsigned char*>(packet) + 4, sizeof time);
            if (m_capacity != 0) {
                m_missing[m_missingNext] = MissingEvent(time, gap);
                if (++m_missingNext == m_capacity) {
                    m_missingNext = 0;
                }
                m_missingHeld = std::min(m_missingHeld + 1, m_capacity);
            }
            if (m_missingCount != std::numeric_limits<std::uint32_t>::max()) {
                ++m_missingCount;
            }
        }
    }
    m_previousSequence = sequence;
    if (m_count != std::numeric_limits<std::uint32_t>::max()) {
        ++m_count;
    }
}

template <typename T> std::uint32_t SpikeDataBuffer<T>::Held(std::uint32_t limit) const {
    return std::min({limit, m_count, m_capacity});
}

template <typename T> std::uint32_t SpikeDataBuffer<T>::FirstSlot(std::uint32_t n) const {
    return m_nextSlot >= n ? m_nextSlot - n : m_nextSlot + (m_capacity - n);
}

template <typename T>
std::uint32_t SpikeDataBuffer<T>::GetEventPackets(T* dest, int* destSequences, std::uint32_t max) {
    if (dest == nullptr) {
        Rezero();
        return 0;
    }
    const std::uint32_t n = Held(max);
    const std::uint32_t first = FirstSlot(n);
    const std::uint32_t head = std::min(n, m_capacity - first);
    std::copy_n(m_ring.data() + first, head, dest);
    std::copy_n(m_ring.data(), n - head, dest + head);
    if (destSequences != nullptr) {
        std::copy_n(m_sequences.data() + first, head, destSequences);
        std::copy_n(m_sequences.data(), n - head, destSequences + head);
    }
    const std::uint32_t arrived = m_count;
    Rezero();
    return arrived;
}

template <typename T> SpikeEventBlock<T> SpikeDataBuffer<T>::GetEventPackets() {
    SpikeEventBlock<T> block;
    const std::uint32_t n = Held(m_capacity);
    block.records.resize(n);
    const std::uint32_t first = FirstSlot(n);
    const std::uint32_t head = std::min(n, m_capacity - first);
    std::copy_n(m_ring.data() + first, head, block.records.data());
    std::copy_n(m_ring.data(), n - head, block.records.data() + head);
    block.count = m_count;
    block.missing = m_missingCount;
    Rezero();
    return block;
}

template <typename T> std::pair<std::uint32_t, std::uint32_t> SpikeDataBuffer<T>::GetEventCount() {
    std::pair<std::uint32_t, std::uint32_t> counts(m_missingCount, m_count);
    Rezero();
    return counts;
}

template <typename T>
std::pair<std::vector<std::uint32_t>, std::uint32_t> SpikeDataBuffer<T>::GetEventTimes() {
    const std::uint32_t n = Held(m_capacity);
    std::vector<std::uint32_t> times;
    times.reserve(n);
    std::uint32_t slot = FirstSlot(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        times.push_back(m_ring[slot].header.timestamp);
        if (++slot == m_capacity) {
            slot = 0;
        }
    }
    std::pair<std::vector<std::uint32_t>, std::uint32_t> result(std::move(times), m_missingCount);
    Rezero();
    return result;
}

template <typename T> void SpikeDataBuffer<T>::Rezero() {
    // Since the last clear only the slots from 0 up have been written.
    const std::uint32_t used = std::min(m_count, m_capacity);
    if (used != 0) {
        std::memset(static_cast<void*>(m_ring.data()), 0, std::size_t(used) * sizeof(T));
    }
    std::fill_n(m_sequences.begin(), used, 0);
    m_count = 0;
    m_nextSlot = 0;
    m_previousSequence = 0;
    m_missingNext = 0;
    m_missingHeld = 0;
    m_missingCount = 0;
}

template <typename T>
std::vector<typename SpikeDataBuffer<T>::MissingEvent> SpikeDataBuffer<T>::GetMissingEvents() {
    std::vector<MissingEvent> gaps;
    gaps.reserve(m_missingHeld);
    std::uint32_t slot = m_missingNext >= m_missingHeld
                             ? m_missingNext - m_missingHeld
                             : m_missingNext + (m_capacity - m_missingHeld);
    for (std::uint32_t i = 0; i < m_missingHeld; ++i) {
        gaps.push_back(m_missing[slot]);
        if (++slot == m_capacity) {
            slot = 0;
        }
    }
    m_missingNext = 0;
    m_missingHeld = 0;
    m_missingCount = 0;
    return gaps;
}

template class SpikeDataBuffer<KestSegmentDataPacketFixed>;
template class SpikeDataBuffer<KestDigitalEventPacket>;
