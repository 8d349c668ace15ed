// Text fields of records: read only up to the field's end, even when the processor left
// out the terminating NUL.
#pragma once

#include "protocol/KestPacket.h"

#include <cstddef>
#include <string>
#include <string_view>

template <std::size_t N> std::string_view RecordTextView(const char (&field)[N]) {
    return std::string_view(field, KestTextLength(field, N));
}

template <std::size_t N> std::string RecordText(const char (&field)[N]) {
    return std::string(RecordTextView(field));
}

template <std::size_t N> bool RecordTextContains(const char (&field)[N], std::string_view needle) {
    return RecordTextView(field).find(needle) != std::string_view::npos;
}

// Copies a record text into a caller's fixed 128-byte slot, always terminated.
template <std::size_t N> void CopyRecordText(char (&out)[128], const char (&field)[N]) {
    std::string_view text = RecordTextView(field);
    std::size_t length = text.size() < 127 ? text.size() : 127;
    text.copy(out, length);
    out[length] = '\0';
}
