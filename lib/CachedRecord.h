// Property records of the open connection's cache, read and written under the cache's lock:
// the link thread rewrites a record in place whenever the processor sends a new copy.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestlib {

// Copies at most `capacity` bytes of a module's property record into `out` (the rest of
// `out` zeroed). Returns the record's stored length; 0 (nothing copied) when the record has
// never arrived.
std::size_t CopyCachedRecord(unsigned module, unsigned index, void* out, std::size_t capacity);

// The 16-bit count at record offset 6 of a word-array record, read under the lock.
std::uint16_t CachedCount(const std::uint8_t* record);

} // namespace kestlib
