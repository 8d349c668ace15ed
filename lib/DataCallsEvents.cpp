// Event calls: drained spike, stimulation and digital input records, the digital-input
// capture switch and the digital outputs.
#include "include/kestlib.h"
#include "lib/LibraryGuard.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "protocol/KestPacket.h"

#include <cstdint>
#include <cstdio>

using kestlib::Guard;
using kestlib::Initialized;

namespace {

// Outputs 0-3 are the single lines, 4 the parallel port.
constexpr std::uint32_t kDigitalOutputs = 5;
constexpr std::uint32_t kParallelPort = 4;

bool BadRecordBuffer(const void* records, int max) {
    return max < 0 || (max > 0 && records == nullptr);
}

// A read with max 0 still reports how many records arrived and empties the ring; the ring
// is handed a record to point at, since it takes a null buffer as a plain reset.
template <typename Record, typename Read> std::int32_t Drain(Record* records, int max, Read read) {
    Record spare{};
    return read(records != nullptr ? records : &spare, std::uint32_t(max));
}

// The capture switch's module and property; null with the message when there is none.
const KestBool* CaptureSwitch(int* module, int* index) {
    const KestBool* record = gKestCache->GetDigitalCaptureBitChange(module, index);
    if (record == nullptr || *index < 0) {
        std::fprintf(stderr, "Digital IO not available\n");
        return nullptr;
    }
    return record;
}

} // namespace

extern "C" {

KL_API int32_t kl_spk_data(KestSegmentDataPacketFixed* segments, int* /*ignored*/, int max,
                           int electrode) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_spk_data")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (BadRecordBuffer(segments, max)) {
            return KL_ERR_INVALID_PARAMETER;
        }
        if (electrode < 0) {
            return KL_ERR_INVALID_ELECTRODE;
        }
        return Drain(segments, max, [&](KestSegmentDataPacketFixed* dest, std::uint32_t n) {
            return gKestCache->GetSpikeData(dest, nullptr, n, unsigned(electrode));
        });
    });
}

KL_API int32_t kl_stim_data(KestSegmentDataPacketFixed* segments, int* sequences, int max,
                            int electrode) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_data")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (BadRecordBuffer(segments, max)) {
            return KL_ERR_INVALID_PARAMETER;
        }
        if (electrode < 0) {
            return KL_ERR_INVALID_ELECTRODE;
        }
        int spareSequence = 0;
        int* seqs = sequences != nullptr && segments == nullptr ? &spareSequence : sequences;
        return Drain(segments, max, [&](KestSegmentDataPacketFixed* dest, std::uint32_t n) {
            return gKestCache->GetStimData(dest, seqs, n, unsigned(electrode));
        });
    });
}

KL_API int32_t kl_digin(KestDigitalEventPacket* events, int* /*ignored*/, int max) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_digin")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (BadRecordBuffer(events, max)) {
            return KL_ERR_INVALID_PARAMETER;
        }
        return Drain(events, max, [&](KestDigitalEventPacket* dest, std::uint32_t n) {
            return gKestCache->GetDigitalInput(dest, nullptr, n);
        });
    });
}

KL_API int32_t kl_digin_bit_change(void) noexcept {
    return Guard([]() -> std::int32_t {
        if (!Initialized("kl_digin_bit_change")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        int module = -1;
        int index = -1;
        const KestBool* record = CaptureSwitch(&module, &index);
        if (record == nullptr) {
            return KL_ERR_UNKNOWN;
        }
        // The record's bytes change in place when the processor sends a new copy.
        auto hold = gKestCache->GetLock();
        return record->value != 0 ? 1 : 0;
    });
}

KL_API int32_t kl_digin_bit_change_set(int on) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_digin_bit_change_set")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        int module = -1;
        int index = -1;
        if (CaptureSwitch(&module, &index) == nullptr || gKestClient == nullptr) {
            return KL_ERR_UNKNOWN;
        }
        if (gKestClient->SendBool(unsigned(module), unsigned(index), on != 0) == 0) {
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_digout(const uint32_t* outputs, const uint32_t* values, int count) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_digout")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (count < 1 || count > int(kDigitalOutputs) || outputs == nullptr || values == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        int outputIds[kDigitalOutputs];
        int levels[kDigitalOutputs];
        bool seen[kDigitalOutputs] = {};
        for (int i = 0; i < count; ++i) {
            if (outputs[i] >= kDigitalOutputs || seen[outputs[i]]) {
                return KL_ERR_INVALID_PARAMETER;
            }
            seen[outputs[i]] = true;
            outputIds[i] = int(outputs[i]);
            // The parallel port takes the low 16 bits; a line is on for any value but 0.
            levels[i] = outputs[i] == kParallelPort ? int(values[i] & 0xFFFF) : int(values[i] != 0);
        }
        if (gKestClient == nullptr || gKestClient->SetDigOut(outputIds, levels, count) == 0) {
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

} // extern "C"
