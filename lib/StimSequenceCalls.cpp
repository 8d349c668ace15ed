// Stimulation sequences and calibration tables: loading sequences built by the caller,
// reading, loading and starting an electrode's calibration.
#include "include/kestlib.h"
#include "lib/LibraryGuard.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "protocol/KestPacket.h"

#include <cstdint>
#include <cstdio>
#include <new>

using kestlib::Guard;
using kestlib::Initialized;

namespace {

// Calibration records: the status word at record offset 16, a block's values from 20.
constexpr std::size_t kCalibStatusOffset = 16;
constexpr std::size_t kCalibValuesOffset = 20;
constexpr std::size_t kCalibBlockRecord =
    kCalibValuesOffset + KL_STIM_CALIB_BLOCK_VALUES * sizeof(std::uint16_t);
// A status above this says that the table holds calibrated values.
constexpr std::uint32_t kCalibratedStatus = 3;
constexpr std::uint32_t kCalibStartCommand = 1;

struct CalibAddress {
    int module = -1;
    int index = -1;
    int count = 0; // value records: the status record, then the table blocks
};

bool FindCalibration(int electrode, CalibAddress* at) {
    if (electrode < 0) {
        return false;
    }
    at->count = gKestCache->GetStimCalibAddress(electrode, &at->module, &at->index);
    return at->count > 0 && at->module >= 0 && at->index >= 0;
}

} // namespace

extern "C" {

KL_API int32_t kl_stim_seq(const StimSeq_t* seqs, int count) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_seq")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (count > 0 && seqs == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        // Every sequence is checked before anything is reserved: a packet's size byte
        // cannot count more words.
        for (int i = 0; i < count; ++i) {
            if (seqs[i].count < 1 || seqs[i].count > KL_STIM_SEQ_MAX_SENT_WORDS) {
                return KL_ERR_INVALID_PARAMETER;
            }
        }
        if (gKestClient == nullptr) {
            return KL_ERR_UNKNOWN;
        }
        return gKestClient->SendStimSeq(seqs, count > 0 ? count : 0) == kStimSent ? KL_SUCCESS : 1;
    });
}

KL_API KestStimCalib_t* kl_stim_calib_get(int electrode) noexcept {
    try {
        if (gKestCache == nullptr || !gKestCache->IsInit()) {
            std::printf("%s: kestlib not inititalized\n", "kl_stim_calib_get");
            std::fflush(stdout);
            return nullptr;
        }
        CalibAddress at;
        if (!FindCalibration(electrode, &at)) {
            return nullptr;
        }
        std::uint8_t status[kCalibStatusOffset + 4] = {};
        if (gKestCache->CopyPropertyRecord(unsigned(at.module), unsigned(at.index), status,
                                           sizeof status, sizeof status) == 0) {
            return nullptr;
        }
        auto* record = new (std::nothrow) KestStimCalib_t{};
        if (record == nullptr) {
            return nullptr;
        }
        record->timestamp = kest::LoadLe<std::uint32_t>(status + kCalibStatusOffset);
        if (record->timestamp > kCalibratedStatus) {
            // Never more blocks than the record holds, nor than the processor announced.
            const int blocks =
                at.count - 1 < KL_STIM_CALIB_BLOCKS ? at.count - 1 : KL_STIM_CALIB_BLOCKS;
            for (int b = 0; b < blocks; ++b) {
                std::uint8_t block[kCalibBlockRecord] = {};
                if (gKestCache->CopyPropertyRecord(unsigned(at.module), unsigned(at.index + 1 + b),
                                                   block, sizeof block, sizeof block) == 0) {
                    continue; // a block not (yet) held reads as zeros
                }
                for (int v = 0; v < KL_STIM_CALIB_BLOCK_VALUES; ++v) {
                    record->table[b * KL_STIM_CALIB_BLOCK_VALUES + v] =
                        kest::LoadLe<std::uint16_t>(block + kCalibValuesOffset + 2 * v);
                }
            }
        }
        return record;
    } catch (...) {
        return nullptr;
    }
}

KL_API int32_t kl_stim_calib_set(int electrode, const KestStimCalib_t* record) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_calib_set")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (record == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        CalibAddress at;
        if (!FindCalibration(electrode, &at) || at.count <= KL_STIM_CALIB_BLOCKS) {
            return KL_ERR_UNSUPPORTED;
        }
        if (gKestClient == nullptr ||
            gKestClient->SendStimCalibData(record->timestamp, record->table, unsigned(at.module),
                                           unsigned(at.index)) != 1) {
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_stim_calib_start(int electrode) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_stim_calib_start")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        CalibAddress at;
        if (!FindCalibration(electrode, &at)) {
            return KL_ERR_UNSUPPORTED;
        }
        if (gKestClient == nullptr ||
            gKestClient->SendStimCalibCmd(kCalibStartCommand, unsigned(at.module),
                                          unsigned(at.index)) != 1) {
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_stim_calib_free(KestStimCalib_t* record) noexcept {
    delete record;
    return KL_SUCCESS;
}

} // extern "C"
