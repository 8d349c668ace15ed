// Peripheral calls: the processor's batteries, power sensors, audio tone, front-panel buttons
// and LEDs, all properties of the processor's own module (module 0).
#include "include/kestlib.h"
#include "lib/CachedRecord.h"
#include "lib/LibraryGuard.h"

#include "cache/KestCache.h"
#include "cache/ModuleData.h"
#include "client/KestClient.h"
#include "client/KestSendAndRecv.h"
#include "protocol/KestPacket.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using kestlib::CopyCachedRecord;
using kestlib::Guard;
using kestlib::Initialized;

namespace {

constexpr unsigned kProcessorModule = 0;
constexpr unsigned kConfirmMs = 1000;
constexpr int kFirstPortLed = KL_LED_PORT_A;
constexpr std::int32_t kMaxToneValue = 0xFFFF;
// Sensor readings: current, voltage and power floats at record offsets 20, 24 and 28.
constexpr std::size_t kSensorOffset = 20;
constexpr std::size_t kSensorRecordSize = kSensorOffset + 3 * sizeof(float);
// Audio tone: 16-bit frequency at record offset 4, 16-bit duration at 6.
constexpr std::size_t kToneFrequencyOffset = 4;
constexpr std::size_t kToneDurationOffset = 6;
constexpr std::size_t kBoolRecordSize = offsetof(KestBool, value) + 1;

// Record bytes a panel property must hold: the port LEDs carry a 32-bit value, every other
// panel property a boolean.
std::size_t PanelRecordSize(KestPanelProp kind, int number) {
    return kind == KestPanelProp::Led && number >= kFirstPortLed ? sizeof(KestInteger)
                                                                 : kBoolRecordSize;
}

// The property a panel call addresses, with its record copied into `record` (room for
// kKestMaxRecordSize bytes). KL_ERR_UNSUPPORTED for a number outside the table, a property
// this processor does not offer (or an unknown module 0) and a missing or short record; the
// property index is never taken from an empty lookup, so nothing goes to 0xFFFF.
std::int32_t PanelTarget(KestPanelProp kind, int number, unsigned* index, std::uint8_t* record) {
    const int id = gKestCache->GetPanelPropId(kind, number);
    if (id <= 0) {
        return KL_ERR_UNSUPPORTED;
    }
    const std::size_t length =
        CopyCachedRecord(kProcessorModule, unsigned(id), record, kKestMaxRecordSize);
    if (length < PanelRecordSize(kind, number)) {
        return KL_ERR_UNSUPPORTED;
    }
    *index = unsigned(id);
    return KL_SUCCESS;
}

// An unconfirmed boolean write to a panel property.
std::int32_t SendPanelBool(KestPanelProp kind, int number, bool on) {
    unsigned index = 0;
    alignas(4) std::uint8_t record[kKestMaxRecordSize];
    const std::int32_t status = PanelTarget(kind, number, &index, record);
    if (status != KL_SUCCESS) {
        return status;
    }
    if (gKestClient == nullptr || gKestClient->SendBool(kProcessorModule, index, on) == 0) {
        return KL_ERR_UNKNOWN;
    }
    return KL_SUCCESS;
}

std::int32_t ReadSensor(ModuleData::Prop prop, KestSensorReading* reading) {
    const int id = gKestCache->GetNamedPropId(kProcessorModule, int(prop));
    alignas(4) std::uint8_t record[kSensorRecordSize];
    if (id <= 0 || CopyCachedRecord(kProcessorModule, unsigned(id), record, sizeof record) <
                       kSensorRecordSize) {
        return KL_ERR_UNSUPPORTED;
    }
    if (reading != nullptr) {
        std::memcpy(&reading->current, record + kSensorOffset, sizeof(float));
        std::memcpy(&reading->voltage, record + kSensorOffset + 4, sizeof(float));
        std::memcpy(&reading->power, record + kSensorOffset + 8, sizeof(float));
    }
    return KL_SUCCESS;
}

// Runs `body` after the connection check; exceptions become KL_ERR_UNKNOWN.
template <typename Body> std::int32_t Call(const char* name, Body&& body) {
    return Guard([&]() -> std::int32_t {
        if (!Initialized(name)) {
            return KL_ERR_NOT_INITIALIZED;
        }
        return body();
    });
}

} // namespace

extern "C" {

KL_API int32_t kl_internal_battery(int32_t* percent) noexcept {
    return Call("kl_internal_battery", [&] {
        const int value = gKestCache->GetInternalBatteryPct();
        if (percent != nullptr) {
            *percent = value;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_external_battery(int32_t* percent) noexcept {
    return Call("kl_external_battery", [&] {
        const int value = gKestCache->GetExternalBatteryPct();
        if (percent != nullptr) {
            *percent = value;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_external_battery_detected(int32_t* detected) noexcept {
    return Call("kl_external_battery_detected", [&] {
        const bool value = gKestCache->GetExternalBatteryDetected();
        if (detected != nullptr) {
            *detected = value ? 1 : 0;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_wall_sensor(KestSensorReading* reading) noexcept {
    return Call("kl_wall_sensor",
                [&] { return ReadSensor(ModuleData::Prop::WallSensor, reading); });
}

KL_API int32_t kl_vdd_sensor(KestSensorReading* reading) noexcept {
    return Call("kl_vdd_sensor", [&] { return ReadSensor(ModuleData::Prop::VddSensor, reading); });
}

KL_API int32_t kl_audio_tone_set(const int32_t* frequency_hz, const int32_t* duration_ms) noexcept {
    return Call("kl_audio_tone_set", [&]() -> std::int32_t {
        if (frequency_hz == nullptr || duration_ms == nullptr || *frequency_hz < 0 ||
            *frequency_hz > kMaxToneValue || *duration_ms < 0 || *duration_ms > kMaxToneValue) {
            return KL_ERR_INVALID_PARAMETER;
        }
        int module = -1;
        int index = -1;
        if (gKestCache->GetAudioTone(&module, &index) == nullptr || index <= 0) {
            return KL_ERR_UNSUPPORTED;
        }
        // A copy carries the request: the cached record keeps what the processor last
        // reported until its echo arrives.
        KestAudioTone tone{};
        if (CopyCachedRecord(kProcessorModule, unsigned(index), &tone, sizeof tone) <
            kToneDurationOffset + 2) {
            return KL_ERR_UNSUPPORTED;
        }
        tone.head = {1, kKestAudioToneType, 0, 0};
        auto* bytes = reinterpret_cast<std::uint8_t*>(&tone);
        kest::StoreLe(bytes + kToneFrequencyOffset, std::uint16_t(*frequency_hz));
        kest::StoreLe(bytes + kToneDurationOffset, std::uint16_t(*duration_ms));
        if (gKestClient == nullptr ||
            gKestClient->SendAudioTone(tone, kProcessorModule, unsigned(index)) == 0) {
            return KL_ERR_UNKNOWN;
        }
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_button_get_count(int32_t* count, int button) noexcept {
    return Call("kl_button_get_count", [&]() -> std::int32_t {
        if (count == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        if (!gKestCache->HaveHWModule(kProcessorModule)) {
            return KL_ERR_UNKNOWN;
        }
        if (gKestCache->GetPanelPropId(KestPanelProp::Button, button) <= 0) {
            return KL_ERR_UNSUPPORTED;
        }
        const int presses = gKestCache->GetButtonCount(button);
        if (presses < 0) {
            return KL_ERR_UNKNOWN;
        }
        *count = presses;
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_button_set_monitor(int on, int button) noexcept {
    return Call("kl_button_set_monitor",
                [&] { return SendPanelBool(KestPanelProp::ButtonMonitor, button, on != 0); });
}

KL_API int32_t kl_led_set_monitor(int on, int led) noexcept {
    return Call("kl_led_set_monitor",
                [&] { return SendPanelBool(KestPanelProp::LedMonitor, led, on != 0); });
}

KL_API int32_t kl_led_set(int32_t value, int led) noexcept {
    return Call("kl_led_set", [&]() -> std::int32_t {
        unsigned index = 0;
        alignas(4) std::uint8_t record[kKestMaxRecordSize];
        const std::int32_t status = PanelTarget(KestPanelProp::Led, led, &index, record);
        if (status != KL_SUCCESS) {
            return status;
        }
        KestSendAndRecv confirmed(gKestClient, gKestCache, kConfirmMs);
        const bool done = led >= kFirstPortLed
                              ? confirmed.SendInt(kProcessorModule, index, value)
                              : confirmed.SendBool(kProcessorModule, index, value != 0);
        return done ? KL_SUCCESS : KL_ERR_NO_RESPONSE;
    });
}

KL_API int32_t kl_led(int32_t* value, int led) noexcept {
    return Call("kl_led", [&]() -> std::int32_t {
        if (value == nullptr) {
            return KL_ERR_INVALID_PARAMETER;
        }
        if (!gKestCache->HaveHWModule(kProcessorModule)) {
            return KL_ERR_UNKNOWN;
        }
        unsigned index = 0;
        alignas(4) std::uint8_t record[kKestMaxRecordSize];
        const std::int32_t status = PanelTarget(KestPanelProp::Led, led, &index, record);
        if (status != KL_SUCCESS) {
            return status;
        }
        if (record[offsetof(KestProperty, type)] == kKestRecordCleared) {
            return KL_ERR_UNKNOWN; // a write awaits its echo: the state is not known
        }
        *value = led >= kFirstPortLed
                     ? kest::LoadLe<std::int32_t>(record + offsetof(KestInteger, value))
                     : std::int32_t(record[offsetof(KestBool, value)] != 0);
        return KL_SUCCESS;
    });
}

} // extern "C"
