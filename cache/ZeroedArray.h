// ZeroedArray: a fixed array of zero bytes whose pages the system supplies on first use.
//
// A ring of a data stream is tens of megabytes. Filling it at construction would touch every
// page before the first sample arrives; memory from the allocator's zeroing allocation is
// mapped on demand instead, so that the pages are faulted in as the writer first reaches
// them, spread over the first pass of the ring. Elements are trivially copyable types whose
// all-zero bytes are their zero value.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>

template <typename T> class ZeroedArray {
    static_assert(std::is_trivially_copyable_v<T>, "elements are stored as raw bytes");

  public:
    ZeroedArray() = default;
    // Throws std::bad_alloc when the memory cannot be had.
    explicit ZeroedArray(std::size_t size)
        : data_(size == 0 ? nullptr : static_cast<T*>(std::calloc(size, sizeof(T)))), size_(size) {
        if (size != 0 && data_ == nullptr) {
            throw std::bad_alloc();
        }
    }
    ~ZeroedArray() { std::free(data_); }
    ZeroedArray(const ZeroedArray&) = delete;
    ZeroedArray& operator=(const ZeroedArray&) = delete;
    ZeroedArray(ZeroedArray&& other) noexcept : data_(other.data_), size_(other.size_) {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    ZeroedArray& operator=(ZeroedArray&& other) noexcept {
        if (this != &other) {
            std::free(data_);
            data_ = other.data_;
            size_ = other.size_;
            other.data_ = nullptr;
            other.size_ = 0;
        }
        return *this;
    }

    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

  private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};
