#include "lib/LibraryGuard.h"

#include "cache/KestCache.h"
#include "client/Connection.h"

#include <cstdio>

namespace kestlib {

bool Initialized(const char* call) {
    if (gKestCache != nullptr && gKestCache->IsInit()) {
        return true;
    }
    std::printf("%s: kestlib not initialized\n", call);
    std::fflush(stdout);
    return false;
}

void CopyText(char* buffer, int size, const char* text, std::size_t length) {
    std::size_t used = 0;
    while (used < length && text[used] != '\0') {
        ++used;
    }
    std::snprintf(buffer, std::size_t(size), "%.*s", int(used), text);
}

} // namespace kestlib
