// Stimulation settings: global enable, latency, the per-electrode selections (resolution,
// exhausting resistor, trigger source) and the software triggers. Every read copies the
// cached record under the cache lock after checking its stored size; writes go out without
// waiting for the echo.
#include "include/kestlib.h"
#include "lib/LibraryGuard.h"
#include "lib/StimAccess.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "protocol/KestPacket.h"

#include <cstdint>
#include <cstdio>

using kestlib::CopyStimBox;
using kestlib::Guard;
using kestlib::Initialized;
using kestlib::StimBox;
using kestlib::StimSetting;

namespace {

// The latency record: current value, minimum and maximum as 32-bit values after the head.
constexpr std::size_t kLatencyValue = 4;
constexpr std::size_t kLatencyMinimum = 8;
constexpr std::size_t kLatencyMaximum = 12;
constexpr std::size_t kLatencyRecordSize = 20;

struct Latency {
    StimSetting at;
    std::uint8_t record[kLatencyRecordSize] = {};
};

bool ReadLatency(Latency* latency) {
    const KestProperty* found = gKestCache->GetStimLatency(&latency->at.module, &latency->at.index);
    return found != nullptr && latency->at.module >= 0 && latency->at.index >= 0 &&
           gKestCache->CopyPropertyRecord(unsigned(latency->at.module), unsigned(latency->at.index),
                                          latency->record, sizeof latency->record,
                                          kLatencyMaximum + 4) != 0;
}

std::int32_t Field(const std::uint8_t* record, std::size_t offset) {
    return kest::LoadLe<std::int32_t>(record + offset);
}

enum class SetResult { Sent, Missing, OutOfRange, NotQueued };

// Copies the electrode's combo box, puts `value` into its selection and sends the copy.
SetResult SetSelection(StimBox which, int electrode, int value) {
    KestComboBox box{};
    StimSetting at;
    if (!CopyStimBox(which, electrode, &box, &at)) {
        return SetResult::Missing;
    }
    if (value < 0 || value >= int(box.itemCount)) {
        return SetResult::OutOfRange;
    }
    box.selection = std::uint16_t(value);
    if (gKestClient == nullptr ||
        gKestClient->SendComboBox(box, unsigned(at.module), unsigned(at.index)) != 1) {
        return SetResult::NotQueued;
    }
    return SetResult::Sent;
}

bool GetSelection(StimBox which, int electrode, int* value) {
    KestComboBox box{};
    StimSetting at;
    if (!CopyStimBox(which, electrode, &box, &at)) {
        return false;
    }
    *value = int(box.selection);
    return true;
}

bool SendTrue(const StimSetting& at) {
    return gKestClient != nullptr &&
           gKestClient->SendBool(unsigned(at.module), unsigned(at.index), true) == 1;
}

} // namespace

extern "C" {

KL_API int32_t kl_stim_enable(void) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_enable")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        StimSetting at;
        bool on = false;
        if (!kestlib::GlobalStimEnable(&at, &on)) {
            std::fprintf(stderr,
                         "kl_stim_enable: failed to retrieve global stim enable property\n");
            return KL_ERR_UNSUPPORTED;
        }
        return on ? 1 : 0;
    });
}

KL_API int32_t kl_stim_enable_set(int on) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_enable_set")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        StimSetting at;
        if (!kestlib::GlobalStimEnable(&at, nullptr)) {
            std::fprintf(stderr,
                         "kl_stim_enable_set: failed to retrieve global stim enable property\n");
            return KL_ERR_UNSUPPORTED;
        }
        if (gKestClient == nullptr ||
            gKestClient->SendBool(unsigned(at.module), unsigned(at.index), on != 0) != 1) {
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_stim_get_latency(void) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_get_latency")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        Latency latency;
        if (!ReadLatency(&latency)) {
            std::fprintf(stderr, "kl_stim_get_latency: failed to retrieve stim latency\n");
            return KL_ERR_UNSUPPORTED;
        }
        return Field(latency.record, kLatencyValue);
    });
}

KL_API int32_t kl_stim_set_latency(int value) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_set_latency")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        Latency latency;
        if (!ReadLatency(&latency)) {
            std::fprintf(stderr, "kl_stim_set_latency: failed to retrieve stim latency\n");
            return KL_ERR_UNSUPPORTED;
        }
        if (value < Field(latency.record, kLatencyMinimum) ||
            value > Field(latency.record, kLatencyMaximum)) {
            std::fprintf(stderr, "kl_stim_set_latency: stim latency out of bounds\n");
            return KL_ERR_INVALID_PARAMETER;
        }
        kest::StoreLe(latency.record + kLatencyValue, std::int32_t(value));
        if (gKestClient == nullptr ||
            gKestClient->SendKestProperty(latency.record, unsigned(latency.at.module),
                                          unsigned(latency.at.index), sizeof latency.record) != 1) {
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_stim_get_res_options(int electrode, float* options) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_get_res_options")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (options == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        if (electrode < 0) {
            return 0;
        }
        const int count = gKestCache->GetStimResOptions(electrode, options, KL_STIM_MAX_OPTIONS);
        return count < 0 ? KL_ERR_UNKNOWN : count;
    });
}

KL_API int32_t kl_stim_get_exhaust_options(int electrode, float* options) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_get_exhaust_options")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (options == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        if (electrode < 0) {
            return 0;
        }
        const int count = gKestCache->GetExhaustOptions(electrode, options, KL_STIM_MAX_OPTIONS);
        return count < 0 ? KL_ERR_UNKNOWN : count;
    });
}

KL_API int32_t kl_stim_get_res(int electrode, int* level) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_get_res")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (level == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        return GetSelection(StimBox::Resolution, electrode, level) ? KL_SUCCESS
                                                                   : KL_ERR_UNSUPPORTED;
    });
}

KL_API int32_t kl_stim_set_res(int electrode, int level) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_set_res")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        switch (SetSelection(StimBox::Resolution, electrode, level)) {
        case SetResult::Sent:
            return KL_SUCCESS;
        case SetResult::Missing:
            std::fprintf(stderr,
                         "kl_stim_set_res:  unable to access stimulation settings for electrode "
                         "%u\n",
                         unsigned(electrode));
            return KL_ERR_UNKNOWN;
        case SetResult::OutOfRange:
            std::fprintf(stderr, "kl_stim_set_res: level %d is outside of allowed range\n", level);
            return KL_ERR_UNKNOWN;
        case SetResult::NotQueued:
            break;
        }
        return KL_ERR_UNKNOWN;
    });
}

KL_API int32_t kl_stim_get_exhaust(int electrode, int* value) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_get_exhaust")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (value == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        if (!GetSelection(StimBox::Exhaust, electrode, value)) {
            std::fprintf(stderr, "exhaust not allowed on elec %d\n", electrode);
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_stim_set_exhaust(int electrode, int value) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_set_exhaust")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (SetSelection(StimBox::Exhaust, electrode, value) != SetResult::Sent) {
            std::fprintf(stderr, "exhaust opt %d not allowed on elec %d\n", value, electrode);
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_stim_get_trigger_source(int electrode, int* source) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_get_trigger_source")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (source == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        return GetSelection(StimBox::TriggerSource, electrode, source) ? KL_SUCCESS
                                                                       : KL_ERR_UNSUPPORTED;
    });
}

KL_API int32_t kl_stim_set_trigger_source(int electrode, int source) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_set_trigger_source")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (SetSelection(StimBox::TriggerSource, electrode, source) != SetResult::Sent) {
            std::fprintf(stderr, "stim trigger source %d not allowed on elec %d\n", source,
                         electrode);
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_stim_trigger(int electrode) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_trigger")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        StimSetting at;
        if (!kestlib::ModuleStimTrigger(electrode, &at) || !SendTrue(at)) {
            std::fprintf(stderr, "kl_stim_trigger: failed to set stim trigger on elec %d\n",
                         electrode);
            return KL_ERR_UNSUPPORTED;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_stim_trigger_all(void) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_trigger_all")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        StimSetting at;
        if (!kestlib::GlobalStimTrigger(&at) || !SendTrue(at)) {
            std::fprintf(stderr, "kl_stim_trigger: failed to set global stim trigger\n");
            return KL_ERR_UNSUPPORTED;
        }
        return KL_SUCCESS;
    });
}

} // extern "C"
