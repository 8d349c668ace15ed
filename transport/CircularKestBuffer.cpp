#include "transport/CircularKestBuffer.h"

#include <cstring>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace Network {

namespace {
constexpr std::uint64_t kPageSize = 4096;
}

CircularKestBuffer::CircularKestBuffer(std::uint64_t capacity, const char* name)
    : capacity_(capacity), name_(name), lapEnd_(capacity) {
    if (capacity == 0 || capacity % 4 != 0) {
        throw std::invalid_argument(
            "CircularKestBuffer: capacity must be a positive multiple of 4");
    }
    data_.reset(new std::uint8_t[capacity]);
    for (std::uint64_t offset = 0; offset < capacity; offset += kPageSize) {
        data_[offset] = 0xFF;
    }
}

CircularKestBuffer::~CircularKestBuffer() = default;

std::uint8_t* CircularKestBuffer::Reserve(std::size_t size) {
    const std::uint64_t rounded = (std::uint64_t(size) + 3) & ~std::uint64_t(3);
    if (rounded > capacity_) {
        return nullptr;
    }
    const std::uint64_t head = writeHead_.load(std::memory_order_relaxed);
    const std::uint64_t position = head % capacity_;
    const std::uint64_t room = capacity_ - position;
    std::uint8_t* area;
    std::uint64_t next;
    if (rounded < room) {
        area = data_.get() + position;
        next = head + rounded;
    } else if (rounded == room) {
        lapEnd_.store(capacity_, std::memory_order_relaxed);
        area = data_.get() + position;
        next = head + rounded;
    } else {
        // The tail from `position` on stays unused this lap; readers skip it.
        lapEnd_.store(position, std::memory_order_relaxed);
        area = data_.get();
        next = head + rounded + room;
    }
    // Readers see the write head only in their overrun check, which keeps a wide margin
    // (see OutputClient::CheckSpace); the lap end and the bytes become theirs to read
    // through the publish.
    writeHead_.store(next, std::memory_order_relaxed);
    return area;
}

void CircularKestBuffer::Publish() {
    // Release: every byte written and the lap end are visible to a reader that loads the
    // published head (acquire) and sees this value.
    publishedHead_.store(writeHead_.load(std::memory_order_relaxed), std::memory_order_release);
    if (publishSignal_.load(std::memory_order_relaxed) < 0) {
        return;
    }
    // Counted in before the descriptor is read again: one who clears the signal waits for
    // this write (both sequentially consistent).
    signalling_.fetch_add(1);
    const int signal = publishSignal_.load();
    const std::uint64_t one = 1;
    // A failed write (a full counter, never reached) leaves the publish as it is.
    const bool written = signal >= 0 && write(signal, &one, sizeof one) == sizeof one;
    static_cast<void>(written);
    signalling_.fetch_sub(1);
}

void CircularKestBuffer::SetPublishSignal(int descriptor) {
    publishSignal_.store(descriptor);
    while (descriptor < 0 && signalling_.load() != 0) {
        std::this_thread::yield();
    }
}

void CircularKestBuffer::Reset() {
    std::memset(data_.get(), 0, capacity_);
    writeHead_.store(0);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    publishedHead_.store(0);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    lapEnd_.store(capacity_);
}

} // namespace Network
