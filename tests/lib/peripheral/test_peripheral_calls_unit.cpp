// Peripheral and transceiver calls on a processor that lacks what they need: a panel, power
// and tone properties missing from module 0, no module 0 at all, a transceiver front end
// without its transceiver properties. Each is refused with nothing sent.
#include "tests/lib/data/DataFixture.h"

#include "include/kestlib.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

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

namespace {

// Front end 0 (module 1, electrodes 0-31) as a transceiver with its request properties; the
// test answers in place of the processor.
class TransceiverUnit : public datatest::FedCache {
  protected:
    void SetUp() override {
        testmodel::Module& front = processor_.Find(1);
        Bytes status(80, 0);
        status[0] = 1;
        status[1] = kKestImplantStatusType;
        for (std::uint8_t b = 0; b < 6; ++b) {
            status[8 + b] = std::uint8_t(0x11 + b); // the request address words
        }
        statusIndex_ = front.AddNamed("Implant Status", kKestImplantStatusType, status);
        Bytes command(72, 0);
        command[0] = 1;
        command[1] = kKestTransceiverCommandType;
        commandIndex_ = front.AddNamed("Transceiver Command", kKestTransceiverCommandType, command);
        Connect();
        Bytes desc = front.Records()[0];
        std::strcpy(reinterpret_cast<KestModuleDesc*>(desc.data())->label, "FE quarnel 32");
        Feed(testmodel::ConfigPacket(1, 0, desc));
    }

    // Runs `call` on its own thread, hands back the one packet it sends and, after `answer`
    // has been fed, the call's result.
    template <typename Call, typename Answer> Bytes Exchange(Call call, Answer answer) {
        std::int32_t result = 99;
        const auto before = sink_->publishes.load();
        std::thread caller([&] { result = call(); });
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (sink_->publishes.load() == before && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const std::vector<Bytes> sent = sink_->Take();
        answer();
        caller.join();
        EXPECT_EQ(result, KL_SUCCESS);
        EXPECT_EQ(sent.size(), 1u);
        return sent.empty() ? Bytes{} : sent[0];
    }

    unsigned statusIndex_ = 0;
    unsigned commandIndex_ = 0;
};

TEST_F(TransceiverUnit, StatusRequestAndCommandAreLaidOutByteByByte) {
    std::uint16_t words[KL_TRANSCEIVER_WORDS] = {};
    const Bytes request = Exchange([&] { return kl_transceiver_status(words, 3); },
                                   [&] {
                                       Bytes answer(80, 0);
                                       answer[0] = 1;
                                       answer[1] = kKestImplantStatusType;
                                       answer[6] = 32;
                                       for (unsigned w = 0; w < 32; ++w) {
                                           answer[16 + 2 * w] = std::uint8_t(w + 1);
                                       }
                                       Feed(testmodel::ConfigPacket(1, statusIndex_, answer));
                                   });
    Bytes expected(92, 0);
    expected[0] = 23;
    expected[8] = 1;
    expected[9] = 1;
    expected[10] = std::uint8_t(statusIndex_);
    expected[11] = std::uint8_t(statusIndex_ >> 8);
    expected[12] = 1;
    expected[13] = kKestImplantStatusType;
    expected[16] = 32; // capacity in words; length 0: a read
    for (std::uint8_t b = 0; b < 6; ++b) {
        expected[20 + b] = std::uint8_t(0x11 + b);
    }
    EXPECT_EQ(request, expected);
    EXPECT_EQ(words[0], 1);
    EXPECT_EQ(words[31], 32);

    KestTransceiverCommand command{};
    command.command = 0xBEEF;
    command.count = 2;
    command.data[0] = 0x0102;
    command.data[1] = 0x0304;
    command.data[2] = 0x7777; // beyond the count: not sent
    const Bytes sent = Exchange([&] { return kl_transceiver_command(3, &command); },
                                [&] {
                                    Bytes echo(72, 0);
                                    echo[0] = 1;
                                    echo[1] = kKestTransceiverCommandType;
                                    echo[6] = 32;
                                    Feed(testmodel::ConfigPacket(1, commandIndex_, echo));
                                });
    expected.assign(84, 0);
    expected[0] = 21;
    expected[8] = 1;
    expected[9] = 1;
    expected[10] = std::uint8_t(commandIndex_);
    expected[11] = std::uint8_t(commandIndex_ >> 8);
    expected[12] = 1;
    expected[13] = kKestTransceiverCommandType;
    expected[16] = 0xEF;
    expected[17] = 0xBE;
    expected[18] = 32;
    expected[20] = 0x02;
    expected[21] = 0x01;
    expected[22] = 0x04;
    expected[23] = 0x03;
    EXPECT_EQ(sent, expected);
}

} // namespace
