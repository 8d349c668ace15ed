// Property records of the emulated processor, built as byte vectors in the wire layout.
#pragma once

#include "protocol/KestPacket.h"

#include <cstdint>
#include <string>
#include <vector>

namespace paxsim {

using Record = std::vector<std::uint8_t>;

// Record type of the 16-bit list records (impedance frequencies and currents) and of the
// calibration word arrays; the processor reports them with the integer type code.
constexpr std::uint8_t kListRecordType = kKestIntegerType;
// Record type of threshold pairs and of the stream per-channel records.
constexpr std::uint8_t kThresholdRecordType = kKestFloatType;
constexpr std::uint8_t kChannelRecordType = kKestIntegerType;
// Block kind of the per-channel records of output streams.
constexpr std::uint8_t kStreamChannelBlock = 19;

// A record of `length` bytes with the common head (version 1, the type, flags 0).
Record EmptyRecord(std::uint8_t type, std::size_t length);

template <typename T> Record RecordOf(const T& record, std::size_t length = sizeof(T)) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&record);
    return Record(bytes, bytes + length);
}

template <typename T> T& View(Record& record) {
    return *reinterpret_cast<T*>(record.data());
}
template <typename T> const T& View(const Record& record) {
    return *reinterpret_cast<const T*>(record.data());
}

// Copies text into a fixed field, cut to leave room for the terminating NUL.
void CopyText(char* field, std::size_t capacity, const std::string& text);

Record BlockDescRecord(std::uint8_t kind, const std::string& name, std::uint16_t first,
                       std::uint16_t count);
Record PropertyDescRecord(const std::string& name, std::uint8_t valueType, std::uint16_t valueIndex,
                          std::uint16_t valueCount);
Record BoolRecord(bool value);
Record IntRecord(std::int32_t value);
Record FloatRecord(float value);
// 20-byte records with the value at 4 and the allowed range at 8 and 12.
Record RangedIntRecord(std::int32_t value, std::int32_t minimum, std::int32_t maximum);
Record RangedFloatRecord(float value, float minimum, float maximum);
Record ComboBoxRecord(std::uint16_t selection, std::uint16_t firstItem, std::uint16_t itemCount);
Record ComboItemRecord(const std::string& text, std::uint16_t propIndex);
// 16-bit list: count at 6, current value at 8, the values from 16.
Record ListRecord(const std::vector<std::uint16_t>& values, std::uint16_t current);
// Word array with `count` 16-bit words (zeroed) from record offset 16.
Record WordArrayRecord(std::uint8_t type, std::uint16_t count);
Record SosFilterRecord(const std::string& label, float center, float low, float high,
                       std::uint8_t stages);
Record AudioToneRecord(std::uint16_t frequency, std::uint16_t durationMs);
// Sensor reading: current, voltage and power floats at 20, 24 and 28.
Record SensorRecord(float current, float voltage, float power);

} // namespace paxsim
