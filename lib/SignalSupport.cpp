// Stream switch lookups for the signal calls and commands, and the digital input switches.
#include "lib/SignalSupport.h"

#include "cache/KestCache.h"
#include "client/Connection.h"
#include "protocol/KestPacket.h"

#include <string>

namespace kestlib {

namespace {
// The digital input stream is switched through at most five consecutive switches.
constexpr int kDiginSwitches = 5;
} // namespace

bool IsContinuousKind(std::uint8_t kind) {
    return kind == kKestContinuousData || kind == kKestContinuousData16 || kind == kKestFloatData;
}

bool StreamSwitch(int electrode, const char* stream, KestStreamSwitch* out) {
    *out = KestStreamSwitch{};
    if (gKestCache == nullptr || stream == nullptr || electrode < 0) {
        return false;
    }
    return gKestCache->GetStreamSwitch(electrode, stream, out);
}

bool HaveElectrode(int electrode) {
    return gKestCache != nullptr && electrode >= 0 &&
           gKestCache->HaveElectrode(unsigned(electrode));
}

int DiginSwitch(int* module, int* index, int* count) {
    *module = -1;
    *index = -1;
    *count = 0;
    const int value = gKestCache == nullptr ? -1 : gKestCache->GetDigIOSignalProp(module, index);
    if (value < 0 || *index < 0) {
        return -1;
    }
    // Only switches count: a property after the enable switch that is not a boolean (the
    // digital module may keep other records there) ends the run.
    *count = 1;
    while (*count < kDiginSwitches && *index + *count <= 0xFFFF) {
        KestBool record{};
        if (gKestCache->CopyKestProperty(unsigned(*module), unsigned(*index + *count), &record,
                                         sizeof record) < sizeof record ||
            record.head.type != kKestBoolType) {
            break;
        }
        ++*count;
    }
    return value;
}

} // namespace kestlib
