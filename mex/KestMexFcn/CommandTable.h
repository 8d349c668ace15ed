// The commands that need a connection, looked up by exact name in table order.
#pragma once

#include "mex/KestMexFcn/KestMexFcn.h"

#include <cstddef>

namespace KestMexFcn {

// The longest command text read from the first input.
constexpr std::size_t kCommandSize = 32;

struct Command {
    const char* name;
    Handler handler;
};

constexpr std::size_t kCommandCount = 31;
extern const Command kCommandTable[kCommandCount];

// The handler of `name`, or null when the table has no such command.
Handler FindCommand(const char* name);

} // namespace KestMexFcn
