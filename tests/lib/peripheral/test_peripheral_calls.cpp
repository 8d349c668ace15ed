// Batteries, power sensors, the audio tone, front-panel buttons and LEDs against the emulated
// processor.
#include "tests/lib/peripheral/PeripheralFixture.h"

#include "protocol/KestPacket.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using peripheraltest::PeripheralLive;

namespace {

std::int32_t IntAt(const std::vector<std::uint8_t>& record) {
    return kest::LoadLe<std::int32_t>(&record.at(4));
}

// (frequency, duration) of the cached audio tone record.
std::pair<unsigned, unsigned> CachedTone() {
    int module = -1;
    int index = -1;
    const KestAudioTone* tone = gKestCache->GetAudioTone(&module, &index);
    auto hold = gKestCache->GetLock();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(tone);
    return {kest::LoadLe<std::uint16_t>(bytes + 4), kest::LoadLe<std::uint16_t>(bytes + 6)};
}

} // namespace

TEST_F(PeripheralLive, BatteriesAndSensorsReadWhatTheProcessorReports) {
    std::int32_t internal = -1, external = -1, detected = -1;
    EXPECT_EQ(kl_internal_battery(&internal), KL_SUCCESS);
    EXPECT_EQ(kl_external_battery(&external), KL_SUCCESS);
    EXPECT_EQ(kl_external_battery_detected(&detected), KL_SUCCESS);
    EXPECT_EQ(internal, 87);
    EXPECT_EQ(external, 64);
    EXPECT_EQ(detected, 1);

    KestSensorReading wall{}, vdd{};
    ASSERT_EQ(kl_wall_sensor(&wall), KL_SUCCESS);
    ASSERT_EQ(kl_vdd_sensor(&vdd), KL_SUCCESS);
    EXPECT_FLOAT_EQ(wall.current, 0.42f);
    EXPECT_FLOAT_EQ(wall.voltage, 12.0f);
    EXPECT_FLOAT_EQ(wall.power, 5.04f);
    EXPECT_FLOAT_EQ(vdd.current, 0.8f);
    EXPECT_FLOAT_EQ(vdd.voltage, 3.3f);
    EXPECT_FLOAT_EQ(vdd.power, 2.64f);

    // Null results write nothing and still succeed.
    EXPECT_EQ(kl_internal_battery(nullptr), KL_SUCCESS);
    EXPECT_EQ(kl_wall_sensor(nullptr), KL_SUCCESS);
}

TEST_F(PeripheralLive, ButtonCountsFollowPressesAndEachQueryResetsThem) {
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(server_->PressButton("event"));
    }
    ASSERT_TRUE(server_->PressButton("f2"));
    std::int32_t event = 0, f2 = 0;
    ASSERT_TRUE(WaitFor([&] {
        std::int32_t count = 0;
        EXPECT_EQ(kl_button_get_count(&count, KL_BUTTON_EVENT), KL_SUCCESS);
        event += count;
        EXPECT_EQ(kl_button_get_count(&count, KL_BUTTON_F2), KL_SUCCESS);
        f2 += count;
        return event == 3 && f2 == 1;
    })) << "event "
        << event << ", f2 " << f2;
    std::int32_t count = -1;
    EXPECT_EQ(kl_button_get_count(&count, KL_BUTTON_EVENT), KL_SUCCESS);
    EXPECT_EQ(count, 0) << "the query reset the count";
    EXPECT_EQ(kl_button_get_count(&count, KL_BUTTON_STOP_STIM), KL_SUCCESS);
    EXPECT_EQ(count, 0);

    EXPECT_EQ(kl_button_get_count(nullptr, KL_BUTTON_F1), KL_ERR_INVALID_PARAMETER);
    for (int number : {0, 5, -1}) {
        EXPECT_EQ(kl_button_get_count(&count, number), KL_ERR_UNSUPPORTED) << number;
    }
}

TEST_F(PeripheralLive, MonitorSwitchesReachTheProcessor) {
    EXPECT_EQ(kl_button_set_monitor(1, KL_BUTTON_F1), KL_SUCCESS);
    EXPECT_EQ(kl_led_set_monitor(5, KL_LED_PORT_B), KL_SUCCESS);
    EXPECT_EQ(kl_led_set_monitor(1, KL_LED_EVENT), KL_SUCCESS);
    EXPECT_TRUE(WaitFor([&] {
        return Stored(0, "F1 Button Monitor")[4] == 1 && Stored(0, "Port B LED Monitor")[4] == 1 &&
               Stored(0, "Event LED Monitor")[4] == 1;
    }));
    EXPECT_EQ(kl_button_set_monitor(0, KL_BUTTON_F1), KL_SUCCESS);
    EXPECT_TRUE(WaitFor([&] { return Stored(0, "F1 Button Monitor")[4] == 0; }));
}

TEST_F(PeripheralLive, PanelNumbersWithoutAPropertyAreRefusedWithNothingSent) {
    const std::uint64_t before = Sets();
    std::int32_t value = -7;
    // Outside the table, and LED 1 (the stop button has none): never the "every property"
    // address 0xFFFF.
    for (int number : {0, 9, -1, 0x10000}) {
        EXPECT_EQ(kl_button_set_monitor(1, number), KL_ERR_UNSUPPORTED) << number;
        EXPECT_EQ(kl_led_set_monitor(1, number), KL_ERR_UNSUPPORTED) << number;
        EXPECT_EQ(kl_led_set(1, number), KL_ERR_UNSUPPORTED) << number;
        EXPECT_EQ(kl_led(&value, number), KL_ERR_UNSUPPORTED) << number;
    }
    EXPECT_EQ(kl_led_set(1, 1), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_led_set_monitor(1, 1), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_led(&value, 1), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_button_set_monitor(1, 5), KL_ERR_UNSUPPORTED) << "LED-only number";
    EXPECT_EQ(value, -7) << "nothing written";
    EXPECT_EQ(kl_led(nullptr, KL_LED_F1), KL_ERR_INVALID_PARAMETER);

    // A record that arrives too short for its value is refused as well.
    const std::uint16_t portC = Index(0, "Port C LED");
    FeedRecord(0, portC, {1, kKestIntegerType, 0, 0});
    EXPECT_EQ(kl_led(&value, KL_LED_PORT_C), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_led_set(3, KL_LED_PORT_C), KL_ERR_UNSUPPORTED);

    // Let anything that was sent arrive before counting.
    EXPECT_EQ(kl_led_set_monitor(1, KL_LED_F2), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([&] { return Sets() >= before + 1; }));
    EXPECT_TRUE(WaitFor([&] { return Stored(0, "F2 LED Monitor")[4] == 1; }));
    EXPECT_EQ(Sets(), before + 1) << "only the valid write was sent";
}

TEST_F(PeripheralLive, LedsAreSetWithConfirmationAndReadBack) {
    std::int32_t value = -1;
    ASSERT_EQ(kl_led(&value, KL_LED_F1), KL_SUCCESS);
    EXPECT_EQ(value, 0);
    ASSERT_EQ(kl_led_set(7, KL_LED_F1), KL_SUCCESS);
    ASSERT_EQ(kl_led(&value, KL_LED_F1), KL_SUCCESS);
    EXPECT_EQ(value, 1) << "a boolean LED reads 0 or 1";
    EXPECT_EQ(Stored(0, "F1 LED")[4], 1);

    ASSERT_EQ(kl_led_set(0x12345678, KL_LED_PORT_B), KL_SUCCESS);
    ASSERT_EQ(kl_led(&value, KL_LED_PORT_B), KL_SUCCESS);
    EXPECT_EQ(value, 0x12345678) << "a port LED reads its 32-bit value";
    EXPECT_EQ(IntAt(Stored(0, "Port B LED")), 0x12345678);

    // An LED the processor does not confirm is not reported as set.
    server_->WithModel([](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
        model.SetEchoMode(paxsim::EchoMode::Drop);
    });
    EXPECT_EQ(kl_led_set(0, KL_LED_F1), KL_ERR_NO_RESPONSE);
    EXPECT_EQ(kl_led(&value, KL_LED_F1), KL_ERR_UNKNOWN) << "the state is not known";
}

TEST_F(PeripheralLive, AudioToneIsSentAndTheCacheShowsOnlyTheEcho) {
    EXPECT_EQ(CachedTone(), std::make_pair(440u, 100u));
    const std::int32_t frequency = 1000, duration = 250;
    ASSERT_EQ(kl_audio_tone_set(&frequency, &duration), KL_SUCCESS);
    EXPECT_TRUE(WaitFor([&] { return CachedTone() == std::make_pair(1000u, 250u); }))
        << "the echo updates the cached tone";
    const auto stored = Stored(0, "Audio Tone");
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&stored[4]), 1000);
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&stored[6]), 250);

    // Without an echo the cache keeps the processor's last word.
    server_->WithModel([](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
        model.SetEchoMode(paxsim::EchoMode::Drop);
    });
    const std::int32_t other = 2000;
    ASSERT_EQ(kl_audio_tone_set(&other, &duration), KL_SUCCESS);
    ASSERT_TRUE(
        WaitFor([&] { return kest::LoadLe<std::uint16_t>(&Stored(0, "Audio Tone")[4]) == 2000; }));
    EXPECT_EQ(CachedTone(), std::make_pair(1000u, 250u));

    // Values that do not fit 16 bits are refused, not cut (70000 Hz is not 4464 Hz).
    const std::uint64_t before = Sets();
    for (auto [f, d] : {std::pair<std::int32_t, std::int32_t>{70000, 10},
                        {65536, 10},
                        {-1, 10},
                        {440, 65536},
                        {440, -5}}) {
        EXPECT_EQ(kl_audio_tone_set(&f, &d), KL_ERR_INVALID_PARAMETER) << f << " " << d;
    }
    EXPECT_EQ(kl_audio_tone_set(nullptr, &duration), KL_ERR_INVALID_PARAMETER);
    const std::int32_t top = 65535;
    EXPECT_EQ(kl_audio_tone_set(&top, &top), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([&] { return Sets() >= before + 1; }));
    EXPECT_EQ(Sets(), before + 1);
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&Stored(0, "Audio Tone")[4]), 65535);
}
