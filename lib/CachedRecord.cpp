#include "lib/CachedRecord.h"

#include "cache/KestCache.h"
#include "client/Connection.h"
#include "protocol/KestPacket.h"

#include <algorithm>
#include <cstring>

namespace kestlib {

std::size_t CopyCachedRecord(unsigned module, unsigned index, void* out, std::size_t capacity) {
    std::memset(out, 0, capacity);
    const KestProperty* record = gKestCache->GetKestProperty(module, index);
    if (record == nullptr) {
        return 0;
    }
    // The slot has room for the largest record whatever its stored length, so a length that
    // changes between the two looks never takes the copy outside it.
    const std::size_t length = gKestCache->GetPropertySize(module, index);
    auto hold = gKestCache->GetLock();
    std::memcpy(out, record, std::min({capacity, length, kKestMaxRecordSize}));
    return length;
}

std::uint16_t CachedCount(const std::uint8_t* record) {
    auto hold = gKestCache->GetLock();
    return kest::LoadLe<std::uint16_t>(record + offsetof(KestWordArray, count));
}

} // namespace kestlib
