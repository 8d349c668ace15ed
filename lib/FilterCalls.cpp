// Filters of a front end: their names, their choices, a choice's description, selecting a
// choice and uploading a filter into the custom slot.
#include "include/kestlib.h"
#include "lib/LibraryGuard.h"
#include "lib/SignalSupport.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "client/KestSendAndRecv.h"
#include "protocol/KestPacket.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using kestlib::Guard;
using kestlib::Initialized;

static_assert(sizeof(KestFilterDesc) == kKestSosFilterHeadSize - sizeof(KestProperty),
              "a filter description is the filter record without its head");

namespace {

constexpr unsigned kConfirmMs = 1000;

// The filter's combo box, copied, with its address. False for an unknown filter.
struct Combo {
    KestComboBox box{};
    int module = -1;
    int index = -1;
};

bool FindCombo(int electrode, const char* filter, Combo* out) {
    if (electrode < 0 || filter == nullptr ||
        gKestCache->GetFilterComboBox(electrode, filter, &out->module, &out->index) == nullptr) {
        return false;
    }
    return gKestCache->CopyKestProperty(unsigned(out->module), unsigned(out->index), &out->box,
                                        sizeof out->box) >= sizeof out->box &&
           out->box.head.type == kKestComboBoxType;
}

// A choice's filter record, copied with its address; its stage count is cut to the stages
// the stored record holds. False when the choice has no filter record.
struct Sos {
    KestSosFilterDesc record{};
    int module = -1;
    int index = -1;
};

bool FindSos(int electrode, const char* filter, int item, Sos* out) {
    if (gKestCache->GetSosFilterDesc(electrode, filter, item, &out->module, &out->index) ==
        nullptr) {
        return false;
    }
    const std::size_t length = gKestCache->CopyKestProperty(
        unsigned(out->module), unsigned(out->index), &out->record, sizeof out->record);
    if (length < kKestSosFilterHeadSize || out->record.head.type != kKestSosFilterDescType) {
        return false;
    }
    const std::size_t held = (std::min(length, sizeof out->record) - kKestSosFilterHeadSize) / 16;
    out->record.stageCount = std::uint8_t(std::min<std::size_t>(out->record.stageCount, held));
    return true;
}

// The custom slot (the last choice) of a filter and the stages it takes: its own maximum,
// never more than one packet carries. KL_SUCCESS, -1 unknown filter, KL_ERR_UNSUPPORTED
// when the slot cannot be found.
std::int32_t CustomSlot(int electrode, const char* filter, Sos* slot, int* maxStages) {
    Combo combo;
    if (!FindCombo(electrode, filter, &combo)) {
        return KL_ERR_UNKNOWN;
    }
    if (combo.box.itemCount == 0 ||
        !FindSos(electrode, filter, int(combo.box.itemCount) - 1, slot)) {
        return KL_ERR_UNSUPPORTED;
    }
    const int own = slot->record.maxStages;
    *maxStages = own == 0 ? int(kKestSosMaxStages) : std::min(own, int(kKestSosMaxStages));
    return KL_SUCCESS;
}

} // namespace

namespace kestlib {

int CustomFilterMaxStages(int electrode, const char* filter) {
    Sos slot;
    int maxStages = -1;
    if (gKestCache == nullptr || CustomSlot(electrode, filter, &slot, &maxStages) != KL_SUCCESS) {
        return -1;
    }
    return maxStages;
}

int FilterSelectConfirmed(int electrode, const char* filter, int selection) {
    Combo combo;
    if (gKestCache == nullptr || !FindCombo(electrode, filter, &combo) || selection < 0 ||
        selection >= int(combo.box.itemCount)) {
        return KL_ERR_UNKNOWN;
    }
    combo.box.selection = std::uint16_t(selection);
    if (!KestSendAndRecv(nullptr, nullptr, kConfirmMs)
             .SendComboBox(combo.box, unsigned(combo.module), unsigned(combo.index))) {
        return KL_ERR_NO_RESPONSE;
    }
    return KL_SUCCESS;
}

} // namespace kestlib

extern "C" {

KL_API int32_t kl_filter_list_names(char names[][128], int max, int electrode) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_filter_list_names")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (electrode < 0) {
            return KL_ERR_INVALID_ELECTRODE;
        }
        if (max < 0 || (max > 0 && names == nullptr)) {
            return KL_ERR_INVALID_PARAMETER;
        }
        return gKestCache->GetFilterStrings(names, max, electrode);
    });
}

KL_API int32_t kl_filter_list_selection(int* selection, int electrode,
                                        const char* filter) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_filter_list_selection")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        Combo combo;
        if (!FindCombo(electrode, filter, &combo)) {
            std::fprintf(stderr, "kl_filter_list_selection: invalid filter string: %s\n",
                         filter != nullptr ? filter : "(null)");
            return KL_ERR_UNKNOWN;
        }
        if (selection != nullptr) {
            *selection = combo.box.selection;
        }
        return combo.box.itemCount;
    });
}

KL_API int32_t kl_filter_set(int electrode, const char* filter, int selection) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_filter_set")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        Combo combo;
        if (!FindCombo(electrode, filter, &combo)) {
            std::fprintf(stderr, "kl_filter_set: invalid filter string: %s\n",
                         filter != nullptr ? filter : "(null)");
            return KL_ERR_UNKNOWN;
        }
        if (selection < 0 || selection >= int(combo.box.itemCount)) {
            std::fprintf(stderr, "kl_filter_set: invalid selection: %d\n", selection);
            return KL_ERR_UNKNOWN;
        }
        combo.box.selection = std::uint16_t(selection);
        if (gKestClient == nullptr || gKestClient->SendComboBox(combo.box, unsigned(combo.module),
                                                                unsigned(combo.index)) == 0) {
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

KL_API KestFilterDesc* kl_filter_get_desc(int electrode, const char* filter,
                                          int selection) noexcept {
    try {
        if (gKestCache == nullptr || !gKestCache->IsInit()) {
            return nullptr;
        }
        Combo combo;
        if (!FindCombo(electrode, filter, &combo)) {
            std::fprintf(stderr, "kl_get_filter_desc: invalid filter string: %s\n",
                         filter != nullptr ? filter : "(null)");
            return nullptr;
        }
        Sos sos;
        if (selection < 0 || selection >= int(combo.box.itemCount)) {
            std::fprintf(stderr, "kl_get_filter_desc: invalid selection: %d\n", selection);
            return nullptr;
        }
        if (!FindSos(electrode, filter, selection, &sos)) {
            std::fprintf(stderr, "kl_get_filter_desc: no filter description for selection %d\n",
                         selection);
            return nullptr;
        }
        const std::size_t stages = sos.record.stageCount;
        auto* desc = static_cast<KestFilterDesc*>(std::malloc(KL_FILTER_DESC_SIZE(stages)));
        if (desc == nullptr) {
            std::fprintf(stderr, "kl_get_filter_desc: malloc failed\n");
            return nullptr;
        }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&sos.record);
        std::memcpy(desc, bytes + sizeof(KestProperty), KL_FILTER_DESC_SIZE(stages));
        desc->label[sizeof desc->label - 1] = '\0';
        return desc;
    } catch (...) {
        return nullptr;
    }
}

KL_API int32_t kl_filter_set_custom(int electrode, const char* filter,
                                    const KestFilterDesc* description) noexcept {
    return Guard([&]() -> std::int32_t {
        if (!Initialized("kl_filter_set_custom")) {
            return KL_ERR_NOT_INITIALIZED;
        }
        if (electrode < 0) {
            return KL_ERR_INVALID_ELECTRODE;
        }
        if (description == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        Sos slot;
        int maxStages = 0;
        const std::int32_t found = CustomSlot(electrode, filter, &slot, &maxStages);
        if (found == KL_ERR_UNKNOWN) {
            std::fprintf(stderr, "kl_get_filter_desc: invalid filter string: %s\n",
                         filter != nullptr ? filter : "(null)");
        }
        if (found != KL_SUCCESS) {
            return found;
        }
        const std::size_t stages = description->numStages;
        if (stages > std::size_t(maxStages)) {
            return KL_ERR_INVALID_PARAMETER;
        }
        KestSosFilterDesc record{};
        auto* bytes = reinterpret_cast<std::uint8_t*>(&record);
        std::memcpy(bytes + sizeof(KestProperty), description, KL_FILTER_DESC_SIZE(stages));
        record.head = {1, kKestSosFilterDescType, 0, 0};
        record.label[sizeof record.label - 1] = '\0';
        if (gKestClient == nullptr ||
            gKestClient->SendKestProperty(&record, unsigned(slot.module), unsigned(slot.index),
                                          record.RecordLength()) == 0) {
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

} // extern "C"
