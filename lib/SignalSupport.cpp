// Stream switch lookups for the signal calls and commands, and the digital input switches.
#include "lib/SignalSupport.h"

#include "cache/KestCache.h"
#include "cache/KestPacket.h"
#include "client/KestClient.h"

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

int DiginSwitch() {
    return gKestCache == nullptr ? -1 : gKestCache->GetDigIOSignalProp(nullptr, nullptr);
}

int DiginSwitchSet(bool on) {
    int module = -1;
    int index = -1;
    if (gKestCache == nullptr || gKestClient == nullptr ||
        gKestCache->GetDigIOSignalProp(&module, &index) < 0 || index < 0 ||
        index + kDiginSwitches - 1 > 0xFFFF) {
        return -1;
    }
    // Only switches are written: a property after the enable switch that is not a boolean
    // (the digital module may keep other records there) ends the run.
    for (int k = 0; k < kDiginSwitches; ++k) {
        KestBool record{};
        if (k > 0 && (gKestCache->CopyKestProperty(unsigned(module), unsigned(index + k), &record,
                                                   sizeof record) < sizeof record ||
                      record.head.type != kKestBoolType)) {
            break;
        }
        if (gKestClient->SendBool(unsigned(module), unsigned(index + k), on) == 0) {
            return -1;
        }
    }
    return 0;
}

} // namespace kestlib
