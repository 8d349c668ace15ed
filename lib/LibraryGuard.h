// What every library call shares: the check that a connection is open, and the shim that
// keeps exceptions from crossing the C interface.
#pragma once

#include "include/kestlib.h"

#include <cstddef>
#include <cstdint>

namespace kestlib {

// True when the cache exists and is initialised; otherwise prints
// "<call>: kestlib not initialized" to standard output and returns false.
bool Initialized(const char* call);

// Runs `body`; an exception becomes `failure` (KL_ERR_UNKNOWN by default).
template <typename Body> std::int32_t Guard(Body&& body, std::int32_t failure = KL_ERR_UNKNOWN) {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// Copies at most `length` bytes of a text that may lack its terminator into a caller
// buffer of `size` bytes, cut to fit and always terminated.
void CopyText(char* buffer, int size, const char* text, std::size_t length);

} // namespace kestlib
