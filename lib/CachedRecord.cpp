#include "lib/CachedRecord.h"

#include "cache/KestCache.h"
#include "client/Connection.h"
#include "protocol/KestPacket.h"

#include <algorithm>
#include <cstring>

namespace kestlib {

std::size_t CopyCachedRecord(unsigned module, unsigned index, void* out, std::size_t capacity) {
    std::memset(out, 0, capacity);
    // A cleared record is handed out as it is stored: its callers read the type byte.
    return gKestCache->CopyKestProperty(module, index, out, std::min(capacity, kKestMaxRecordSize),
                                        0, 1, true);
}

std::uint16_t CachedCount(const std::uint8_t* record) {
    auto hold = gKestCache->GetLock();
    return kest::LoadLe<std::uint16_t>(record + offsetof(KestWordArray, count));
}

} // namespace kestlib
