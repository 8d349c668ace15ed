#include "lib/FrontEndAccess.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "client/KestSendAndRecv.h"
#include "protocol/RecordText.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kestlib {

void ErrMsg(const char* name, const char* format, ...) {
    std::fprintf(stderr, "%s: ", name);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

std::optional<FastSettleKind> ParseFastSettleKind(const char* kind) {
    if (kind == nullptr) {
        return std::nullopt;
    }
    if (std::strcmp(kind, "stim") == 0) {
        return FastSettleKind::Stim;
    }
    if (std::strcmp(kind, "digin") == 0) {
        return FastSettleKind::Digin;
    }
    return std::nullopt;
}

std::optional<std::string> ModuleLabel(int electrode) {
    if (electrode < 0) {
        return std::nullopt;
    }
    int module = -1;
    if (gKestCache->GetModuleDesc(electrode, &module) == nullptr || module < 1) {
        return std::nullopt;
    }
    KestModuleDesc desc{};
    // The label must be there; the version texts after it may be missing.
    if (gKestCache->CopyKestProperty(unsigned(module), 0, &desc, sizeof desc, kKestModuleDescType,
                                     offsetof(KestModuleDesc, swVersion)) == 0) {
        return std::nullopt;
    }
    return RecordText(desc.label);
}

bool LabelRefusesFastSettle(const std::string& label) {
    for (const char* word : {"analog", "EMG", "link"}) {
        if (label.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

namespace {

// Copies the combo box that `query` found (module and index written by it).
template <typename Query> std::optional<ComboCopy> CopyCombo(int electrode, Query query) {
    if (electrode < 0) {
        return std::nullopt;
    }
    ComboCopy copy;
    if (query(&copy.module, &copy.index) == nullptr || copy.module < 0 || copy.index < 0) {
        return std::nullopt;
    }
    if (gKestCache->CopyKestProperty(unsigned(copy.module), unsigned(copy.index), &copy.box,
                                     sizeof copy.box, kKestComboBoxType, sizeof copy.box) == 0) {
        return std::nullopt;
    }
    return copy;
}

} // namespace

std::optional<ComboCopy> FastSettleCombo(int electrode, FastSettleKind kind) {
    return CopyCombo(electrode, [&](int* module, int* index) {
        return kind == FastSettleKind::Stim
                   ? gKestCache->GetFastSettleStimComboBox(electrode, module, index, nullptr)
                   : gKestCache->GetFastSettleSourceComboBox(electrode, module, index, nullptr);
    });
}

std::optional<ComboCopy> ADC2PhysCombo(int electrode) {
    return CopyCombo(electrode, [&](int* module, int* index) {
        return gKestCache->GetADC2PhysComboBox(electrode, module, index);
    });
}

std::optional<ComboCopy> LowCornerCombo(int electrode) {
    auto copy = CopyCombo(electrode, [&](int* module, int* index) {
        return gKestCache->GetHwLowCornerComboBox(electrode, module, index, nullptr);
    });
    if (copy && (copy->box.head.flags & kKestStreamUnavailableFlags) != 0) {
        return std::nullopt;
    }
    return copy;
}

std::optional<FloatCopy> FastSettleDuration(int electrode, FastSettleKind kind) {
    if (electrode < 0) {
        return std::nullopt;
    }
    FloatCopy copy;
    const KestFloat* record =
        kind == FastSettleKind::Stim
            ? gKestCache->GetFastSettleStimDurFloat(electrode, &copy.module, &copy.index)
            : gKestCache->GetFastSettleDurFloat(electrode, &copy.module, &copy.index);
    if (record == nullptr || copy.module < 0 || copy.index < 0) {
        return std::nullopt;
    }
    // Value, minimum and maximum: 16 bytes at least.
    copy.length =
        gKestCache->CopyKestProperty(unsigned(copy.module), unsigned(copy.index), copy.bytes.data(),
                                     copy.bytes.size(), kKestFloatType, 16);
    if (copy.length == 0) {
        return std::nullopt;
    }
    return copy;
}

std::vector<std::string> ComboItems(const ComboCopy& combo) {
    const int count = combo.box.itemCount;
    std::unique_ptr<char[][128]> slots(new char[std::size_t(count) + 1][128]);
    const int written =
        gKestCache->CopyComboItems(unsigned(combo.module), combo.box, slots.get(), count);
    std::vector<std::string> items;
    for (int i = 0; i < written; ++i) {
        items.emplace_back(slots[i]);
    }
    items.resize(combo.box.itemCount);
    return items;
}

bool SendFloatSetting(const FloatCopy& record, float value, unsigned confirmMs) {
    if (gKestClient == nullptr || record.length == 0 || record.length > record.bytes.size()) {
        return false;
    }
    std::array<std::uint8_t, kKestMaxRecordSize> bytes = record.bytes;
    kest::StoreLe(&bytes[4], value);
    if (confirmMs == 0) {
        return gKestClient->SendKestProperty(bytes.data(), unsigned(record.module),
                                             unsigned(record.index), record.length) != 0;
    }
    return KestSendAndRecv(nullptr, nullptr, confirmMs)
        .SendKestProperty(bytes.data(), bytes.size(), unsigned(record.module),
                          unsigned(record.index));
}

} // namespace kestlib
