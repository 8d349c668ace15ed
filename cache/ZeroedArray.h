// ZeroedArray: a fixed array of zero bytes whose pages the system supplies on first use.
//
// A ring of a data stream is tens of megabytes. Filling it at construction would touch every
// page before the first sample arrives. A large array is mapped from the system on its own
// (anonymous pages read as zero and are faulted in as the writer first reaches them, spread
// over the first pass of the ring) and unmapped again when it goes. It does not come from the
// allocator: once a large block has been freed there, the allocator serves the next one from
// its heap and must clear it byte by byte, which put a whole set of rings' worth of clearing
// in front of every open after the first. Small arrays come zeroed from the allocator.
// Elements are trivially copyable types whose all-zero bytes are their zero value.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <sys/mman.h>
#include <type_traits>

// Bytes of every ZeroedArray mapped on its own and not yet unmapped (the allocator's figures
// do not count them).
inline std::atomic<std::size_t> gZeroedArrayMappedBytes{0};

template <typename T> class ZeroedArray {
    static_assert(std::is_trivially_copyable_v<T>, "elements are stored as raw bytes");

  public:
    // Arrays of at least this many bytes are mapped on their own.
    static constexpr std::size_t kMapBytes = std::size_t(1) << 20;

    ZeroedArray() = default;
    // Throws std::bad_alloc when the memory cannot be had.
    explicit ZeroedArray(std::size_t size) : data_(Allocate(size)), size_(size) {}
    ~ZeroedArray() { Release(data_, size_); }
    ZeroedArray(const ZeroedArray&) = delete;
    ZeroedArray& operator=(const ZeroedArray&) = delete;
    ZeroedArray(ZeroedArray&& other) noexcept : data_(other.data_), size_(other.size_) {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    ZeroedArray& operator=(ZeroedArray&& other) noexcept {
        if (this != &other) {
            Release(data_, size_);
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
    static bool Mapped(std::size_t size) { return size >= kMapBytes / sizeof(T); }

    static T* Allocate(std::size_t size) {
        if (size == 0) {
            return nullptr;
        }
        if (size > std::size_t(-1) / sizeof(T)) {
            throw std::bad_alloc();
        }
        void* memory = nullptr;
        if (Mapped(size)) {
            memory = ::mmap(nullptr, size * sizeof(T), PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (memory == MAP_FAILED) {
                memory = nullptr;
            } else {
                gZeroedArrayMappedBytes.fetch_add(size * sizeof(T), std::memory_order_relaxed);
            }
        } else {
            memory = std::calloc(size, sizeof(T));
        }
        if (memory == nullptr) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(memory);
    }

    static void Release(T* data, std::size_t size) {
        if (data == nullptr) {
            return;
        }
        if (Mapped(size)) {
            ::munmap(data, size * sizeof(T));
            gZeroedArrayMappedBytes.fetch_sub(size * sizeof(T), std::memory_order_relaxed);
        } else {
            std::free(data);
        }
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
};
