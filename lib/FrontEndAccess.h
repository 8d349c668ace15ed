// Internal to the library and the command layer: copies of an electrode's front-end setting
// records, taken under the cache lock and checked before use, and the sends that change them.
// A record that has not arrived, was cleared by an unanswered confirmed write (type byte 0)
// or is shorter than its kind counts as missing.
#pragma once

#include "protocol/KestPacket.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestlib {

// Writes "<name>: " and the formatted text to standard error.
void ErrMsg(const char* name, const char* format, ...) __attribute__((format(printf, 2, 3)));

enum class FastSettleKind { Stim, Digin };
// "stim" or "digin"; nothing for any other text or null.
std::optional<FastSettleKind> ParseFastSettleKind(const char* kind);

struct ComboCopy {
    int module = -1;
    int index = -1;
    KestComboBox box{};
};

// A float setting record (value at 4, minimum at 8, maximum at 12), at its stored size.
struct FloatCopy {
    int module = -1;
    int index = -1;
    std::size_t length = 0;
    std::array<std::uint8_t, kKestMaxRecordSize> bytes{};

    float Value() const { return kest::LoadLe<float>(&bytes[4]); }
    float Minimum() const { return kest::LoadLe<float>(&bytes[8]); }
    float Maximum() const { return kest::LoadLe<float>(&bytes[12]); }
};

// The label of the module descriptor of the electrode's hardware module (0-based electrode,
// module above 0); nothing without one.
std::optional<std::string> ModuleLabel(int electrode);
// Front ends labelled "analog", "EMG" or "link" have no fast settle.
bool LabelRefusesFastSettle(const std::string& label);

std::optional<ComboCopy> FastSettleCombo(int electrode, FastSettleKind kind);
std::optional<FloatCopy> FastSettleDuration(int electrode, FastSettleKind kind);
std::optional<ComboCopy> ADC2PhysCombo(int electrode);
// Also nothing while the selector is flagged unavailable.
std::optional<ComboCopy> LowCornerCombo(int electrode);

// The item texts of a combo box copy (an item not received yet is empty).
std::vector<std::string> ComboItems(const ComboCopy& combo);

// Sends the record with a new value at its stored size. confirmMs 0: queued only (true when
// queued); otherwise a confirmed write (true when the echo arrived in time).
bool SendFloatSetting(const FloatCopy& record, float value, unsigned confirmMs);

} // namespace kestlib
