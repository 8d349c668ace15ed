// Electrode calls: the electrode list, an electrode's front end and stream names, and its
// spike thresholds.
#include "include/kestlib.h"
#include "lib/LibraryGuard.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "protocol/KestPacket.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using kestlib::Guard;
using kestlib::Initialized;

namespace {

// A front end offers the streams of two modules, each with at most 255 stream ids.
constexpr int kMaxStreamNames = 2 * 255;

bool StreamAvailable(const std::string& name, int electrode) {
    int module = -1;
    int stream = -1;
    const KestOutputStreamDesc* desc =
        gKestCache->GetOutputStreamDesc(electrode, name, &module, &stream);
    if (desc == nullptr) {
        return false;
    }
    // The descriptor's bytes change in place when the processor sends a new copy.
    auto hold = gKestCache->GetLock();
    return (desc->head.flags & kKestStreamUnavailableFlags) == 0;
}

} // namespace

extern "C" {

KL_API int32_t kl_list_elec(uint32_t* electrodes, int max, const char* type) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_list_elec")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (max < 0 || type == nullptr || (max > 0 && electrodes == nullptr)) {
            return KL_ERR_INVALID_PARAMETER;
        }
        if (max == 0) {
            return 0;
        }
        const char* pattern = std::strcmp(type, "all") == 0 ? "" : type;
        return std::int32_t(gKestCache->GetElecList(electrodes, unsigned(max), pattern));
    });
}

KL_API int32_t kl_get_fe(uint32_t electrode) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_get_fe")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        auto hold = gKestCache->GetLock();
        const int module = gKestCache->GetHWModule(electrode);
        return module < 0 ? KL_ERR_UNKNOWN : module / 2;
    });
}

KL_API int32_t kl_get_fe_streams(char names[][128], int max, int electrode) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_get_fe_streams")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (max < 0 || (max > 0 && names == nullptr)) {
            return KL_ERR_INVALID_PARAMETER;
        }
        if (electrode < 0) {
            return KL_ERR_INVALID_ELECTRODE;
        }
        // Collected apart first: the names that are not available are left out, and the
        // caller's slots receive only what is kept, never more than max of them.
        std::vector<std::array<char, 128>> found(std::size_t(std::min(max, kMaxStreamNames)));
        const int total = gKestCache->GetStreamStrings(reinterpret_cast<char(*)[128]>(found.data()),
                                                       int(found.size()), electrode);
        if (total < 0) {
            return KL_ERR_UNKNOWN;
        }
        int written = 0;
        for (int i = 0; i < total && written < max; ++i) {
            const std::string name(found[std::size_t(i)].data());
            if (StreamAvailable(name, electrode)) {
                std::snprintf(names[written], 128, "%s", name.c_str());
                ++written;
            }
        }
        return written;
    });
}

KL_API int32_t kl_spk_thresh(float* lower, float* upper, int electrode) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_spk_thresh")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (lower == nullptr || upper == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        if (electrode < 0) {
            return KL_ERR_INVALID_ELECTRODE;
        }
        int module = -1;
        const auto pair = gKestCache->GetSpikeThreshValues(electrode, &module, nullptr);
        *lower = pair.first;
        *upper = pair.second;
        // Without the front end's processing module the lookup itself failed; a front end
        // that keeps no threshold for the channel reads the fallback pair.
        return module < 0 ? KL_ERR_UNKNOWN : KL_SUCCESS;
    });
}

KL_API int32_t kl_spk_thresh_set(int electrode, float lower, float upper) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_spk_thresh_set")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (electrode < 0) {
            return KL_ERR_INVALID_ELECTRODE;
        }
        if (!std::isfinite(lower) || !std::isfinite(upper)) {
            return KL_ERR_INVALID_PARAMETER;
        }
        int module = -1;
        int index = -1;
        gKestCache->GetSpikeThreshValues(electrode, &module, &index);
        if (module < 0 || index < 0 || gKestClient == nullptr) {
            return KL_ERR_UNKNOWN;
        }
        // The new record keeps the type code the processor gave the stored one.
        std::uint8_t type = kKestFloatType;
        if (const KestProperty* stored =
                gKestCache->GetKestProperty(unsigned(module), unsigned(index))) {
            auto hold = gKestCache->GetLock();
            if (stored->type != kKestRecordCleared) {
                type = stored->type;
            }
        }
        KestFloatArray record{};
        record.head = {1, type, 0, 0};
        record.count = 2;
        record.values[0] = lower;
        record.values[1] = upper;
        if (gKestClient->SendFloatArray(record, unsigned(module), unsigned(index)) == 0) {
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

} // extern "C"
