// Peripheral and transceiver calls on a processor that lacks what they need: a panel, power
// and tone properties missing from module 0, no module 0 at all, a transceiver front end
// without its transceiver properties. Each is refused with nothing sent.
#include "tests/data/DataFixture.h"

#include "lib/kestlib.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

using datatest::Bytes;

class PeripheralUnit : public datatest::FedCache {
  protected:
    std::size_t Sent() { return sink_->Take().size(); }
};

TEST_F(PeripheralUnit, PropertiesTheProcessorDoesNotOfferAreRefused) {
    // Module 0 of the test processor has "Event Button" and "Internal Battery" only.
    std::int32_t value = -7;
    EXPECT_EQ(kl_button_get_count(&value, KL_BUTTON_EVENT), KL_SUCCESS);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(kl_button_get_count(&value, KL_BUTTON_F1), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_button_set_monitor(1, KL_BUTTON_EVENT), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_led_set(1, KL_LED_F1), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_led_set_monitor(1, KL_LED_PORT_A), KL_ERR_UNSUPPORTED);
    value = -7;
    EXPECT_EQ(kl_led(&value, KL_LED_EVENT), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(value, -7);
    KestSensorReading reading{};
    EXPECT_EQ(kl_wall_sensor(&reading), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_vdd_sensor(&reading), KL_ERR_UNSUPPORTED);
    const std::int32_t hz = 440, ms = 100;
    EXPECT_EQ(kl_audio_tone_set(&hz, &ms), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_external_battery(&value), KL_SUCCESS);
    EXPECT_EQ(value, -1) << "no external battery record";
    EXPECT_EQ(kl_external_battery_detected(&value), KL_SUCCESS);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(Sent(), 0u);
}

TEST_F(PeripheralUnit, WithoutModuleZeroWritersAreRefusedAndLedReadsFail) {
    // A processor whose processor descriptor comes from another module and which has no
    // module 0: the cache is complete without it.
    Bytes processorDesc = processor_.Find(0).Records()[FindRecord(0, [](const Bytes& record) {
        return record.size() > 1 && record[1] == kKestProcessorDescType;
    })];
    processor_.modules.erase(processor_.modules.begin());
    reinterpret_cast<KestProcessorDesc*>(processorDesc.data())->moduleCount =
        std::uint16_t(processor_.modules.size() - 1);
    gKestClient = nullptr;
    gKestCache = nullptr;
    cache_ = std::make_unique<KestCache>();
    Feed(testmodel::ConfigPacket(1, 0x7000, processorDesc));
    for (const Bytes& packet : processor_.DescribePackets()) {
        Feed(packet);
    }
    ASSERT_TRUE(cache_->IsInit());
    client_ = std::make_unique<KestClient>(sink_.get(), nullptr, cache_.get());
    gKestCache = cache_.get();
    gKestClient = client_.get();

    std::int32_t value = -7;
    EXPECT_EQ(kl_led(&value, KL_LED_F1), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_button_get_count(&value, KL_BUTTON_EVENT), KL_ERR_UNKNOWN);
    EXPECT_EQ(value, -7);
    EXPECT_EQ(kl_led_set(1, KL_LED_F1), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_led_set_monitor(1, KL_LED_F1), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_button_set_monitor(1, KL_BUTTON_EVENT), KL_ERR_UNSUPPORTED);
    const std::int32_t hz = 440, ms = 100;
    EXPECT_EQ(kl_audio_tone_set(&hz, &ms), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(Sent(), 0u);
}

TEST_F(PeripheralUnit, TransceiverWithoutItsPropertiesIsRefusedWithNothingSent) {
    // Front end 0 (module 1) relabelled as a transceiver; it has none of the properties.
    Bytes desc = processor_.Find(1).Records()[0];
    auto* module = reinterpret_cast<KestModuleDesc*>(desc.data());
    std::memset(module->label, 0, sizeof module->label);
    std::strcpy(module->label, "FE quarnel 32");
    Feed(testmodel::ConfigPacket(1, 0, desc));

    std::int32_t connected = 9;
    std::uint16_t words[KL_TRANSCEIVER_WORDS] = {};
    KestTransceiverCommand command{};
    EXPECT_EQ(kl_transceiver_connected(3, &connected), KL_ERR_UNKNOWN);
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(kl_transceiver_enable(3, 1), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_transceiver_status(words, 3), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_transceiver_command(3, &command), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_transceiver_cmd_response(words, 3), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(Sent(), 0u);
}

} // namespace
