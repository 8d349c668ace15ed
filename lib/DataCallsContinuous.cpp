// Continuous data calls: windows of samples per electrode and stream kind, read from the
// cache's rings.
#include "include/kestlib.h"
#include "lib/LibraryGuard.h"

#include "cache/KestCache.h"
#include "client/Connection.h"

#include <cstdint>

using kestlib::Guard;
using kestlib::Initialized;

namespace {

using ContRead = int (KestCache::*)(std::uint32_t*, float*, std::uint32_t, const std::uint32_t*,
                                    std::uint32_t, std::uint32_t);

std::int32_t ReadCont(const char* call, ContRead read, std::uint32_t* startTime, float* data,
                      int count, const std::uint32_t* electrodes, int electrodeCount,
                      std::uint32_t time) {
    return Guard([&]() -> std::int32_t {
        if (!Initialized(call)) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (count < 0 || electrodeCount < 0 || (electrodeCount > 0 && electrodes == nullptr) ||
            (count > 0 && electrodeCount > 0 && data == nullptr)) {
            return KL_ERR_INVALID_PARAMETER;
        }
        // The cache writes the start of each window it reads; a local start keeps the
        // alignment of one front end's electrodes independent of what the caller passed.
        std::uint32_t start = 0;
        int result = 0;
        if (count > 0) {
            result = (gKestCache->*read)(&start, data, std::uint32_t(count), electrodes,
                                         std::uint32_t(electrodeCount), time);
        } else {
            // Nothing to copy: only the electrodes are checked, by a read of no samples.
            float none = 0;
            result = (gKestCache->*read)(&start, &none, 0, electrodes,
                                         std::uint32_t(electrodeCount), time);
            start = 0;
        }
        if (startTime != nullptr) {
            *startTime = result > 0 ? start : 0;
        }
        return result;
    });
}

} // namespace

extern "C" {

KL_API int32_t kl_cont_raw(uint32_t* start_time, float* data, int count, const uint32_t* electrodes,
                           int electrode_count, uint32_t time) noexcept {
    return ReadCont("kl_cont_raw", &KestCache::GetContDataRaw, start_time, data, count, electrodes,
                    electrode_count, time);
}

KL_API int32_t kl_cont_lfp(uint32_t* start_time, float* data, int count, const uint32_t* electrodes,
                           int electrode_count, uint32_t time) noexcept {
    return ReadCont("kl_cont_lfp", &KestCache::GetContDataLFP, start_time, data, count, electrodes,
                    electrode_count, time);
}

KL_API int32_t kl_cont_emg(uint32_t* start_time, float* data, int count, const uint32_t* electrodes,
                           int electrode_count, uint32_t time) noexcept {
    return ReadCont("kl_cont_emg", &KestCache::GetContDataEMG, start_time, data, count, electrodes,
                    electrode_count, time);
}

KL_API int32_t kl_cont_hires(uint32_t* start_time, float* data, int count,
                             const uint32_t* electrodes, int electrode_count,
                             uint32_t time) noexcept {
    return ReadCont("kl_cont_hires", &KestCache::GetContDataFloat, start_time, data, count,
                    electrodes, electrode_count, time);
}

KL_API int32_t kl_cont_hifreq(uint32_t* start_time, float* data, int count,
                              const uint32_t* electrodes, int electrode_count,
                              uint32_t time) noexcept {
    return ReadCont("kl_cont_hifreq", &KestCache::GetContDataHiFreqFloat, start_time, data, count,
                    electrodes, electrode_count, time);
}

KL_API int32_t kl_cont_spkPreview(uint32_t* start_time, float* data, int count,
                                  const uint32_t* electrodes, int electrode_count,
                                  uint32_t time) noexcept {
    return ReadCont("kl_cont_spkPreview", &KestCache::GetContDataSpkPreview, start_time, data,
                    count, electrodes, electrode_count, time);
}

KL_API int32_t kl_cont_status(uint32_t* start_time, float* data, int count,
                              const uint32_t* electrodes, int electrode_count,
                              uint32_t time) noexcept {
    return ReadCont("kl_cont_status", &KestCache::GetContDataStatus, start_time, data, count,
                    electrodes, electrode_count, time);
}

} // extern "C"
