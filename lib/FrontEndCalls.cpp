// Front-end setting calls: fast settle, the channel ground and reference switches and the
// list of a module's outputs.
#include "include/kestlib.h"
#include "lib/FrontEndAccess.h"
#include "lib/LibraryGuard.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

using kestlib::ErrMsg;
using kestlib::FastSettleKind;
using kestlib::Guard;
using kestlib::Initialized;

namespace {

constexpr int kChannelsPerFrontEnd = 32;
constexpr int kFrontEnds = 16;

// The front end must exist and offer fast settle; its first electrode otherwise -1.
int VerifyFastSettleFrontEnd(int frontEnd) {
    const char* name = "verify_fast_settle_fe";
    const auto label = frontEnd >= 0 && frontEnd < kFrontEnds
                           ? kestlib::ModuleLabel(frontEnd * kChannelsPerFrontEnd)
                           : std::nullopt;
    if (!label) {
        ErrMsg(name, "Invalid front end %d\n", frontEnd);
        return -1;
    }
    if (kestlib::LabelRefusesFastSettle(*label)) {
        ErrMsg(name, "%.40s does not support fast settle\n", label->c_str());
        return -1;
    }
    return frontEnd * kChannelsPerFrontEnd;
}

std::optional<FastSettleKind> Kind(const char* call, const char* kind) {
    auto parsed = kestlib::ParseFastSettleKind(kind);
    if (!parsed) {
        ErrMsg(call, "invalid command string %s, should be 'stim' or 'digin'\n",
               kind == nullptr ? "(null)" : kind);
    }
    return parsed;
}

// The first electrode of a front end that offers fast settle and the kind asked for; nothing
// (the reason reported) when either is wrong.
struct FastSettleTarget {
    int electrode;
    FastSettleKind kind;
};
std::optional<FastSettleTarget> Target(const char* call, int frontEnd, const char* kind) {
    const int electrode = VerifyFastSettleFrontEnd(frontEnd);
    if (electrode < 0) {
        return std::nullopt;
    }
    const auto parsed = Kind(call, kind);
    if (!parsed) {
        return std::nullopt;
    }
    return FastSettleTarget{electrode, *parsed};
}

std::int32_t SwitchChannel(const char* call, uint32_t electrode, int enable, bool ground) {
    if (!Initialized(call)) {
        return KL_ERR_NOT_INITIALIZED;
    }
    if (gKestCache->FindHWModule(electrode) <= 0) {
        return KL_ERR_INVALID_ELECTRODE;
    }
    int module = -1;
    int index = -1;
    const KestBool* record =
        ground ? gKestCache->GetHwGroundEnable(int(electrode), &module, &index)
               : gKestCache->GetHwReferenceEnable(int(electrode), &module, &index);
    KestBool copy{};
    if (record == nullptr || module < 0 || index < 0 ||
        gKestCache->CopyKestProperty(unsigned(module), unsigned(index), &copy, sizeof copy,
                                     kKestBoolType, 5) == 0) {
        return KL_ERR_UNSUPPORTED;
    }
    if (gKestClient == nullptr ||
        gKestClient->SendBool(unsigned(module), unsigned(index), enable != 0) == 0) {
        return KL_ERR_UNKNOWN;
    }
    return KL_SUCCESS;
}

} // namespace

extern "C" {

KL_API int32_t kl_fast_settle_get_choices(int front_end, const char* kind, char items[][128],
                                          int capacity, int* current) noexcept {
    return Guard([&]() -> std::int32_t {
        const char* call = "kl_fast_settle_get_choices";
        if (!Initialized(call)) {
            return KL_ERR_NOT_INITIALIZED;
        }
        const auto target = Target(call, front_end, kind);
        if (!target) {
            return KL_ERR_UNKNOWN;
        }
        const auto combo = kestlib::FastSettleCombo(target->electrode, target->kind);
        if (!combo) {
            ErrMsg(call, "front end %d does not support fast settle\n", front_end);
            return KL_ERR_UNKNOWN;
        }
        if (items != nullptr && capacity > 0) {
            gKestCache->CopyComboItems(unsigned(combo->module), combo->box, items, capacity);
        }
        if (current != nullptr) {
            *current = combo->box.selection;
        }
        return combo->box.itemCount;
    });
}

KL_API int32_t kl_fast_settle_get_duration(int front_end, const char* kind,
                                           int* duration) noexcept {
    return Guard([&]() -> std::int32_t {
        const char* call = "kl_fast_settle_get_duration";
        if (!Initialized(call)) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (duration == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        const auto target = Target(call, front_end, kind);
        if (!target) {
            return KL_ERR_UNKNOWN;
        }
        const auto record = kestlib::FastSettleDuration(target->electrode, target->kind);
        if (!record) {
            ErrMsg(call, "front end %d does not support fast settle\n", front_end);
            return KL_ERR_UNKNOWN;
        }
        const float value = record->Value();
        std::memcpy(duration, &value, sizeof value);
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_fast_settle(int front_end, const char* kind, const uint32_t* selection,
                              const float* duration) noexcept {
    return Guard([&]() -> std::int32_t {
        const char* call = "kl_fast_settle";
        if (!Initialized(call)) {
            return KL_ERR_NOT_INITIALIZED;
        }
        const int electrode = VerifyFastSettleFrontEnd(front_end);
        if (electrode < 0) {
            return KL_ERR_UNKNOWN;
        }
        if (selection != nullptr) {
            const auto parsed = Kind(call, kind);
            if (!parsed) {
                return KL_ERR_UNKNOWN;
            }
            auto combo = kestlib::FastSettleCombo(electrode, *parsed);
            if (!combo) {
                ErrMsg(call, "front end %d does not support fast settle\n", front_end);
                return KL_ERR_UNKNOWN;
            }
            const auto chosen = std::int32_t(*selection);
            if (chosen < 0 || chosen >= int(combo->box.itemCount)) {
                ErrMsg(call, "invalid selection %d out of range [0:%d]\n", chosen,
                       int(combo->box.itemCount) - 1);
                return KL_ERR_UNKNOWN;
            }
            combo->box.selection = std::uint16_t(chosen);
            if (gKestClient == nullptr ||
                gKestClient->SendComboBox(combo->box, unsigned(combo->module),
                                          unsigned(combo->index)) == 0) {
                return KL_ERR_UNKNOWN;
            }
        }
        if (duration == nullptr) {
            return KL_SUCCESS;
        }
        const auto parsed = Kind(call, kind);
        if (!parsed) {
            return KL_ERR_UNKNOWN;
        }
        const auto record = kestlib::FastSettleDuration(electrode, *parsed);
        if (!record) {
            ErrMsg(call, "front end %d does not support fast settle\n", front_end);
            return KL_ERR_UNKNOWN;
        }
        const float d = *duration;
        const float low = record->Minimum();
        const float high = record->Maximum();
        if (!(d >= low && d <= high)) {
            ErrMsg(call, "invalid duration %f out of range [%f:%f]\n", double(d), double(low),
                   double(high));
            return KL_ERR_UNKNOWN;
        }
        return kestlib::SendFloatSetting(*record, d, 0) ? KL_SUCCESS : KL_ERR_UNKNOWN;
    });
}

KL_API int32_t kl_hw_ground(uint32_t electrode, int enable) noexcept {
    return Guard([&] { return SwitchChannel("kl_hw_ground", electrode, enable, true); });
}

KL_API int32_t kl_hw_reference(uint32_t electrode, int enable) noexcept {
    return Guard([&] { return SwitchChannel("kl_hw_reference", electrode, enable, false); });
}

KL_API int32_t kl_list_output(char names[][128], uint32_t module) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_list_output")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (names == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        if (module > 255 || !gKestCache->HaveHWModule(module)) {
            return KL_ERR_UNSUPPORTED;
        }
        const auto [first, end] = gKestCache->GetInputConnectionBlock(module);
        if (first < 0 || end <= first) {
            return 0;
        }
        const int count = end - first;
        std::unique_ptr<char[][128]> all(new char[std::size_t(count)][128]);
        const int found = gKestCache->GetOutputStrings(all.get(), int(module));
        if (found <= 0) {
            return 0;
        }
        const int written = found < KL_LIST_OUTPUT_MAX ? found : KL_LIST_OUTPUT_MAX;
        for (int i = 0; i < written; ++i) {
            std::memcpy(names[i], all[i], 128);
        }
        return written;
    });
}

} // extern "C"
