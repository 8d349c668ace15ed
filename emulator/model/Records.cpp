#include "emulator/model/Records.h"

#include <algorithm>
#include <cstring>

namespace paxsim {

Record EmptyRecord(std::uint8_t type, std::size_t length) {
    Record record(std::max<std::size_t>(length, sizeof(KestProperty)), 0);
    record[0] = 1;
    record[1] = type;
    return record;
}

void CopyText(char* field, std::size_t capacity, const std::string& text) {
    if (capacity == 0) {
        return;
    }
    std::size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(field, text.data(), length);
    std::memset(field + length, 0, capacity - length);
}

Record BlockDescRecord(std::uint8_t kind, const std::string& name, std::uint16_t first,
                       std::uint16_t count) {
    KestBlockDesc desc{};
    desc.head = {1, kKestBlockDescType, 0, 0};
    desc.kind = kind;
    desc.first = first;
    desc.count = count;
    CopyText(desc.name, sizeof desc.name, name);
    return RecordOf(desc);
}

Record PropertyDescRecord(const std::string& name, std::uint8_t valueType, std::uint16_t valueIndex,
                          std::uint16_t valueCount) {
    KestPropertyDesc desc{};
    desc.head = {1, kKestPropertyDescType, 0, 0};
    desc.valueType = valueType;
    desc.valueIndex = valueIndex;
    desc.valueCount = valueCount;
    CopyText(desc.name, sizeof desc.name, name);
    return RecordOf(desc);
}

Record BoolRecord(bool value) {
    Record record = EmptyRecord(kKestBoolType, sizeof(KestBool));
    record[4] = value ? 1 : 0;
    return record;
}

Record IntRecord(std::int32_t value) {
    Record record = EmptyRecord(kKestIntegerType, sizeof(KestInteger));
    kest::StoreLe(&record[4], value);
    return record;
}

Record FloatRecord(float value) {
    Record record = EmptyRecord(kKestFloatType, sizeof(KestFloat));
    kest::StoreLe(&record[4], value);
    return record;
}

namespace {

// A 20-byte value record with its limits: value at 4, minimum at 8, maximum at 12.
template <typename T> Record RangedRecord(std::uint8_t type, T value, T minimum, T maximum) {
    Record record = EmptyRecord(type, 20);
    kest::StoreLe(&record[4], value);
    kest::StoreLe(&record[8], minimum);
    kest::StoreLe(&record[12], maximum);
    return record;
}

} // namespace

Record RangedIntRecord(std::int32_t value, std::int32_t minimum, std::int32_t maximum) {
    return RangedRecord(kKestIntegerType, value, minimum, maximum);
}

Record RangedFloatRecord(float value, float minimum, float maximum) {
    return RangedRecord(kKestFloatType, value, minimum, maximum);
}

Record ComboBoxRecord(std::uint16_t selection, std::uint16_t firstItem, std::uint16_t itemCount) {
    KestComboBox box{};
    box.head = {1, kKestComboBoxType, 0, 0};
    box.selection = selection;
    box.firstItem = firstItem;
    box.itemCount = itemCount;
    return RecordOf(box);
}

Record ComboItemRecord(const std::string& text, std::uint16_t propIndex) {
    KestComboBoxItem item{};
    item.head = {1, kKestComboBoxType, 0, 0};
    item.propIndex = propIndex;
    CopyText(item.text, sizeof item.text, text);
    return RecordOf(item);
}

Record ListRecord(const std::vector<std::uint16_t>& values, std::uint16_t current) {
    Record record = EmptyRecord(kListRecordType, 16 + 2 * values.size());
    kest::StoreLe(&record[6], static_cast<std::uint16_t>(values.size()));
    kest::StoreLe(&record[8], current);
    for (std::size_t i = 0; i < values.size(); ++i) {
        kest::StoreLe(&record[16 + 2 * i], values[i]);
    }
    return record;
}

Record WordArrayRecord(std::uint8_t type, std::uint16_t count) {
    Record record = EmptyRecord(type, kKestWordArrayHeadSize + 2 * std::size_t(count));
    kest::StoreLe(&record[6], count);
    return record;
}

Record SosFilterRecord(const std::string& label, float center, float low, float high,
                       std::uint8_t stages) {
    KestSosFilterDesc desc{};
    desc.head = {1, kKestSosFilterDescType, 0, 0};
    CopyText(desc.label, sizeof desc.label, label);
    desc.centerFreq = center;
    desc.lowCutoff = low;
    desc.highCutoff = high;
    desc.lowOrder = low > 0 ? 2 * stages : 0;
    desc.highOrder = high > 0 ? 2 * stages : 0;
    desc.maxStages = 8;
    desc.stageCount = stages;
    for (std::uint8_t s = 0; s < stages; ++s) {
        // A plain pass-through section per stage: b0 = 1, the rest 0.
        desc.coefficients[s][0] = 1.0f;
    }
    return RecordOf(desc, desc.RecordLength());
}

Record AudioToneRecord(std::uint16_t frequency, std::uint16_t durationMs) {
    Record record = EmptyRecord(kKestAudioToneType, sizeof(KestAudioTone));
    kest::StoreLe(&record[4], frequency);
    kest::StoreLe(&record[6], durationMs);
    return record;
}

Record SensorRecord(float current, float voltage, float power) {
    Record record = EmptyRecord(kKestSensorType, 32);
    kest::StoreLe(&record[20], current);
    kest::StoreLe(&record[24], voltage);
    kest::StoreLe(&record[28], power);
    return record;
}

} // namespace paxsim
