#include "transport/CircularKestBuffer.h"

#include <cstring>
#include <stdexcept>

namespace Network {

namespace {
constexpr std::uint64_t kPageSize = 4096;
}

CircularKestBuffer::CircularKestBuffer(std::uint64_t capacity, const char* name)
    : m_capacity(capacity), m_name(name), m_lapEnd(capacity) {
    if (capacity == 0 || capacity % 4 != 0) {
        throw std::invalid_argument(
            "CircularKestBuffer: capacity must be a positive multiple of 4");
    }
    m_data.reset(new std::uint8_t[capacity]);
    for (std::uint64_t offset = 0; offset < capacity; offset += kPageSize) {
        m_data[offset] = 0xFF;
    }
}

CircularKestBuffer::~CircularKestBuffer() = default;

std::uint8_t* CircularKestBuffer::Reserve(std::size_t size) {
    const std::uint64_t rounded = (std::uint64_t(size) + 3) & ~std::uint64_t(3);
    if (rounded > m_capacity) {
        return nullptr;
    }
    const std::uint64_t head = m_writeHead.load(std::memory_order_relaxed);
    const std::uint64_t position = head % m_capacity;
    const std::uint64_t room = m_capacity - position;
    std::uint8_t* area;
    std::uint64_t next;
    if (rounded < room) {
        area = m_data.get() + position;
        next = head + rounded;
    } else if (rounded == room) {
        m_lapEnd.store(m_capacity, std::memory_order_relaxed);
        area = m_data.get() + position;
        next = head + rounded;
    } else {
        // The tail from `position` on stays unused this lap; readers skip it.
        m_lapEnd.store(position, std::memory_order_relaxed);
        area = m_data.get();
        next = head + rounded + room;
    }
    // Readers see the write head only in their overrun check, which keeps a wide margin
    // (see OutputClient::CheckSpace); the lap end and the bytes become theirs to read
    // through the publish.
    m_writeHead.store(next, std::memory_order_relaxed);
    return area;
}

void CircularKestBuffer::Publish() {
    // Release: every byte written and the lap end are visible to a reader that loads the
    // published head (acquire) and sees this value.
    m_publishedHead.store(m_writeHead.load(std::memory_order_relaxed), std::memory_order_release);
}

void CircularKestBuffer::Reset() {
    std::memset(m_data.get(), 0, m_capacity);
    m_writeHead.store(0);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    m_publishedHead.store(0);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    m_lapEnd.store(m_capacity);
}

} // namespace Network
