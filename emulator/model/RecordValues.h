// Small readings shared by the processor model's files: whether a tick time has come, and a
// boolean property's value.
#pragma once

#include "emulator/model/Records.h"

#include <cstdint>

namespace paxsim {

// True once now has reached due, across the wrap of the 32-bit tick counter.
inline bool Due(std::uint32_t now, std::uint32_t due) {
    return static_cast<std::int32_t>(now - due) >= 0;
}

inline bool BoolValue(const Record& record) {
    return record.size() > 4 && record[4] != 0;
}

} // namespace paxsim
