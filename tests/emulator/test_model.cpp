// The emulated processor's configuration as a client sees it after the start-up requests,
// and its answers to property sets.
#include "ModelDecoder.h"

#include "emulator/model/ModelFactory.h"
#include "emulator/model/ProcessorModel.h"
#include "protocol/KestPacketBuilder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#if __has_include("cache/FrontEndModels.h")
#include "cache/FrontEndModels.h"
#define PAXSIM_HAVE_MODEL_LISTS 1
#endif

using paxsim::ModelConfig;
using paxsim::Outbox;
using paxsim::ProcessorModel;
using paxsim_test::DecodedModule;
using paxsim_test::ModelDecoder;

namespace {

std::vector<std::uint8_t> Ask(ProcessorModel& model, std::uint8_t target, std::uint8_t module,
                              std::uint16_t index, std::uint32_t now = 1000) {
    std::uint8_t request[12];
    EXPECT_EQ(KestBuildRequest(request, sizeof request, target, module, index), 12u);
    Outbox out;
    model.HandlePacket(request, sizeof request, now, out);
    return out.Bytes();
}

std::vector<std::uint8_t> Set(ProcessorModel& model, std::uint8_t module, std::uint16_t index,
                              const std::vector<std::uint8_t>& record, std::uint32_t now = 2000) {
    std::vector<std::uint8_t> packet(KestConfigPacketBytes(record.size()));
    EXPECT_NE(KestBuildConfigPacket(packet.data(), packet.size(), 1, module, index, record.data(),
                                    record.size(), kKestSetTimestamp),
              0u);
    Outbox out;
    model.HandlePacket(packet.data(), packet.size(), now, out);
    return out.Bytes();
}

std::vector<std::uint8_t> BoolSet(bool value) {
    return {1, kKestBoolType, 0, 0, value, 0, 0, 0};
}

// The client's start-up: everything, every module descriptor, module 0's blocks and
// processor descriptor, then all properties of every module.
void Handshake(ProcessorModel& model, ModelDecoder& decoder) {
    ASSERT_GT(decoder.Feed(Ask(model, 255, 0, 0)), 0);
    ASSERT_GT(decoder.Feed(Ask(model, 1, 255, 0)), 0);
    const KestModuleDesc* desc = decoder.modules[0].Desc();
    ASSERT_NE(desc, nullptr);
    for (std::uint16_t i = 1; i <= desc->blockCount; ++i) {
        ASSERT_EQ(decoder.Feed(Ask(model, 1, 0, i)), 1);
    }
    const KestBlockDesc* processorBlock = decoder.modules[0].BlockByKind(kKestProcessorBlock);
    ASSERT_NE(processorBlock, nullptr);
    ASSERT_EQ(decoder.Feed(Ask(model, 1, 0, processorBlock->first)), 1);
    std::vector<std::uint8_t> ids;
    for (const auto& entry : decoder.modules) {
        ids.push_back(entry.first);
    }
    for (std::uint8_t id : ids) {
        ASSERT_GT(decoder.Feed(Ask(model, 1, id, kKestAllPropsIndex)), 0);
    }
}

std::string Text(const char* field, std::size_t capacity) {
    return std::string(field, KestTextLength(field, capacity));
}

class ModelTest : public ::testing::Test {
  protected:
    void SetUp() override { Handshake(model, decoder); }
    ProcessorModel model{ModelConfig::Default(4)};
    ModelDecoder decoder;
};

TEST_F(ModelTest, StartUpFindsEveryModuleAndEveryProperty) {
    // 0, four front ends with two modules each, 33 and 34.
    std::vector<std::uint8_t> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 33, 34};
    std::vector<std::uint8_t> found;
    for (const auto& [id, module] : decoder.modules) {
        found.push_back(id);
        const KestModuleDesc* desc = module.Desc();
        ASSERT_NE(desc, nullptr) << int(id);
        EXPECT_EQ(module.records.size(), desc->propertyCount) << "module " << int(id);
        // Every block descriptor sits among the first properties, its range inside the module.
        for (std::uint16_t i = 1; i <= desc->blockCount; ++i) {
            const auto* r = module.Record(i);
            ASSERT_TRUE(r && (*r)[1] == kKestBlockDescType) << int(id) << " index " << i;
            const auto* block = reinterpret_cast<const KestBlockDesc*>(r->data());
            EXPECT_GT(block->first, desc->blockCount);
            EXPECT_LE(block->first + block->count, desc->propertyCount);
        }
        // Every property descriptor points at a record of the module.
        for (const auto& [index, record] : module.records) {
            if (record[1] == kKestPropertyDescType) {
                const auto* p = reinterpret_cast<const KestPropertyDesc*>(record.data());
                EXPECT_LT(p->valueIndex + p->valueCount - 1, desc->propertyCount)
                    << Text(p->name, 128);
            }
            EXPECT_NE(record[1], 0) << "no record may look cleared";
            EXPECT_EQ(module.stamps.at(index), 1000u) << "stamped with the processor time";
        }
    }
    EXPECT_EQ(found, expected);
    const auto* procDesc = reinterpret_cast<const KestProcessorDesc*>(
        decoder.modules[0]
            .Record(decoder.modules[0].BlockByKind(kKestProcessorBlock)->first)
            ->data());
    EXPECT_EQ(procDesc->head.type, kKestProcessorDescType);
    EXPECT_EQ(procDesc->moduleCount + 1u, expected.size());
    EXPECT_EQ(Text(procDesc->serial, 64), "PX-EMU-000001");
    EXPECT_EQ(Text(decoder.modules[0].Desc()->swVersion, 16), "7.5.2");
}

TEST_F(ModelTest, ProcessorModuleOffersEveryProcessorLevelName) {
    DecodedModule& m0 = decoder.modules[0];
    const KestBlockDesc* scope = m0.BlockByKind(kKestModuleScopeBlock);
    ASSERT_NE(scope, nullptr);
    struct Name {
        const char* name;
        std::uint8_t type;
    };
    const Name names[] = {
        {"Stim Enable", 3},
        {"Stim Trigger", 3},
        {"Stop Stim Button", 3},
        {"Stop Stim Button Monitor", 3},
        {"Event Button", 3},
        {"Event Button Monitor", 3},
        {"Event LED", 3},
        {"Event LED Monitor", 3},
        {"F1 Button", 3},
        {"F1 Button Monitor", 3},
        {"F1 LED", 3},
        {"F1 LED Monitor", 3},
        {"F2 Button", 3},
        {"F2 Button Monitor", 3},
        {"F2 LED", 3},
        {"F2 LED Monitor", 3},
        {"Port A LED", 4},
        {"Port A LED Monitor", 3},
        {"Port B LED", 4},
        {"Port C LED", 4},
        {"Port D LED", 4},
        {"Port D LED Monitor", 3},
        {"Internal Battery", 4},
        {"External Battery", 4},
        {"External Battery Detected", 3},
        {"Wall Sensor", 29},
        {"VDD Sensor", 29},
        {"Audio Tone", 35},
        {"Stim Latency", 4},
        {"Restart Paxexec Trigger", 3},
        {"Recording Trial Descriptor", 21},
    };
    for (const Name& n : names) {
        const KestPropertyDesc* desc = m0.PropertyDesc(n.name);
        ASSERT_NE(desc, nullptr) << n.name;
        EXPECT_EQ(desc->valueType, n.type) << n.name;
        const auto* value = m0.Record(desc->valueIndex);
        ASSERT_NE(value, nullptr) << n.name;
        EXPECT_EQ((*value)[1], n.type) << n.name << ": value record of the announced type";
        EXPECT_GE(desc->valueIndex, scope->first) << n.name << " inside the module-scope block";
        EXPECT_LT(desc->valueIndex, scope->first + scope->count) << n.name;
    }
    EXPECT_EQ(m0.Record(m0.NameIndex("Audio Tone"))->size(), 12u);
    EXPECT_EQ(m0.Record(m0.NameIndex("Stim Latency"))->size(), 20u);
    // The 874-byte record travels in an 888-byte packet: 876 record bytes with the padding.
    EXPECT_EQ(m0.Record(m0.NameIndex("Recording Trial Descriptor"))->size(), 876u);
    float voltage;
    std::memcpy(&voltage, &(*m0.Record(m0.NameIndex("Wall Sensor")))[24], 4);
    EXPECT_FLOAT_EQ(voltage, 12.0f);
}

TEST_F(ModelTest, SignalSelectionBlockHasOneValidDescriptorPerFrontEnd) {
    DecodedModule& m0 = decoder.modules[0];
    const KestBlockDesc* block = m0.BlockByKind(kKestSignalSelectionBlock);
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(block->count, 4);
    for (unsigned f = 0; f < 4; ++f) {
        const auto* r = m0.Record(static_cast<std::uint16_t>(block->first + f));
        ASSERT_EQ(r->size(), kKestSignalSelectionDescSize);
        const auto* sel = reinterpret_cast<const BmFeSignalSelectionDesc*>(r->data());
        EXPECT_EQ(sel->head.type, kKestSignalSelectionDescType);
        EXPECT_EQ(sel->port, f / 4);
        EXPECT_EQ(sel->slot, f % 4);
        EXPECT_NE(sel->valid, 0);
        // The raw stream of the front end's hardware module is the first entry.
        EXPECT_EQ(sel->entries[0].streamKey, (2 * f + 1) << 16 | 1u << 8);
    }
}

TEST_F(ModelTest, FrontEndModulesFollowTheirKind) {
    for (unsigned f = 0; f < 4; ++f) {
        DecodedModule& hw = decoder.modules[std::uint8_t(2 * f + 1)];
        DecodedModule& proc = decoder.modules[std::uint8_t(2 * f + 2)];
        std::string label = Text(hw.Desc()->label, 128);
        EXPECT_EQ(hw.Desc()->moduleClass, 1);
        const bool stim = f % 4 == 0, emg = f % 4 == 2, quarnel = f % 4 == 3;
        EXPECT_EQ(label.find("stim") != std::string::npos, stim) << label;
        EXPECT_EQ(label.find("EMG") != std::string::npos, emg) << label;
        EXPECT_EQ(label.find("quarnel") != std::string::npos, quarnel) << label;

        // Physical channels: port, slot and channel give electrode 32 f + c.
        const KestBlockDesc* phys = hw.BlockByKind(kKestPhysicalChannelBlock);
        ASSERT_NE(phys, nullptr);
        ASSERT_EQ(phys->count, 32);
        for (unsigned c = 0; c < 32; ++c) {
            const auto* pc = reinterpret_cast<const KestPhysicalChannelDesc*>(
                hw.Record(std::uint16_t(phys->first + c))->data());
            EXPECT_EQ(pc->port * 128u + pc->slot * 32u + pc->channel, 32 * f + c);
        }

        // Streams of both modules, with the per-channel record rules.
        int raw = hw.StreamId("raw");
        ASSERT_EQ(raw, 1);
        EXPECT_EQ(hw.StreamDesc(raw)->period, 1);
        EXPECT_EQ(hw.StreamDesc(raw)->dataKind, kKestContinuousData);
        EXPECT_EQ(hw.StreamDesc(raw)->channelCount, 32);
        EXPECT_GT(hw.StreamId("HW Status"), 0);
        for (const char* name : {"lfp", "hi-res", "hifreq", "emg", "spkfilt", "spk"}) {
            EXPECT_GT(proc.StreamId(name), 0) << name;
            EXPECT_EQ(hw.StreamId(name), -1) << name;
        }
        EXPECT_EQ(proc.StreamDesc(proc.StreamId("lfp"))->period, 30);
        EXPECT_EQ(proc.StreamDesc(proc.StreamId("hi-res"))->dataKind, kKestFloatData);
        EXPECT_EQ(proc.StreamDesc(proc.StreamId("hi-res"))->period, 15);
        int spk = proc.StreamId("spk");
        for (unsigned c = 0; c < 32; ++c) {
            const KestOutputStreamDesc* s = proc.StreamDesc(spk + int(c));
            ASSERT_NE(s, nullptr);
            EXPECT_EQ(s->dataKind, kKestSegmentData);
            EXPECT_EQ(Text(s->name, 32), "spk");
            EXPECT_EQ(s->channelCount, 1);
            const auto* first = reinterpret_cast<const KestStreamChannelRecord*>(
                proc.Record(s->firstChannelRecord)->data());
            EXPECT_EQ(first->physChannelIndex, phys->first + c)
                << "names the hardware module's physical channel";
            const auto* enable = proc.Record(first->enableIndex);
            ASSERT_NE(enable, nullptr);
            EXPECT_EQ((*enable)[1], kKestBoolType);
            EXPECT_EQ((*enable)[4], 1) << "spikes on by default";
        }
        EXPECT_EQ(hw.StreamId("stim") > 0, stim);
        EXPECT_EQ(hw.BlockByName("Stim Control Descriptor Block") != nullptr, stim);
        if (stim) {
            EXPECT_EQ(hw.BlockByName("Stim Control Descriptor Block")->count, 32);
            for (const char* name :
                 {"Stim Enable", "Stim Trigger", "Stim Scale", "Stim Source", "Stim Type",
                  "Stim Event Trigger Map", "Stim Resolution", "Stim Exhausting Resistor"}) {
                EXPECT_GT(hw.NameIndex(name), 0) << name;
            }
            EXPECT_EQ(hw.PropertyDesc("Stim Calibration")->valueCount, 6);
        }
        for (const char* name : {"Fast Settle Stim", "Fast Settle Source",
                                 "Fast Settle Stim Duration", "Fast Settle Duration"}) {
            EXPECT_EQ(hw.NameIndex(name) > 0, !emg && !quarnel) << name;
        }
        for (const char* name :
             {"ADC to Physical Units Selector", "Hardware Filter High-Pass Corner",
              "Impedance Cycle", "Impedance Freq List", "Impedance Current List",
              "Impedance Control", "Impedance Measurements"}) {
            EXPECT_GT(hw.NameIndex(name), 0) << name;
        }
        for (const char* name :
             {"Implant Connection Status", "Implant Search Trigger", "Implant Status",
              "Transceiver Command", "Implant Command Response"}) {
            EXPECT_EQ(hw.NameIndex(name) > 0, quarnel) << name;
        }
        for (const char* block : {"Channel Ground Enable Descriptor Block",
                                  "Channel Reference Enable Descriptor Block"}) {
            ASSERT_NE(hw.BlockByName(block), nullptr);
            EXPECT_EQ(hw.BlockByName(block)->count, 32);
        }
        ASSERT_NE(proc.BlockByName("Threshold Values Descriptor Block"), nullptr);
        EXPECT_EQ(proc.Desc()->moduleClass, 6);
    }
}

TEST_F(ModelTest, FilterItemsPointAtFilterDescriptorsWithCustomLast) {
    DecodedModule& proc = decoder.modules[2];
    int filters = 0;
    for (const auto& [index, record] : proc.records) {
        if (record[1] != kKestPropertyDescType) {
            continue;
        }
        const auto* desc = reinterpret_cast<const KestPropertyDesc*>(record.data());
        std::string name = Text(desc->name, 128);
        if (desc->valueType != kKestComboBoxType || name.find("Filter") == std::string::npos) {
            continue;
        }
        ++filters;
        const auto* box =
            reinterpret_cast<const KestComboBox*>(proc.Record(desc->valueIndex)->data());
        ASSERT_GE(box->itemCount, 2);
        for (unsigned i = 0; i < box->itemCount; ++i) {
            const auto* item = reinterpret_cast<const KestComboBoxItem*>(
                proc.Record(std::uint16_t(box->firstItem + i))->data());
            const auto* sos = proc.Record(item->propIndex);
            ASSERT_NE(sos, nullptr) << name;
            EXPECT_EQ((*sos)[1], kKestSosFilterDescType) << name;
            if (i + 1 == box->itemCount) {
                EXPECT_EQ(Text(item->text, 128), "Custom");
                EXPECT_EQ(sos->size(), kKestSosFilterHeadSize + 16 * 8) << "room for 8 stages";
            }
        }
    }
    EXPECT_EQ(filters, 5);
}

TEST_F(ModelTest, StimResolutionItemsAreDecimalTextAndExhaustValuesAreFloats) {
    DecodedModule& hw = decoder.modules[1];
    const auto* box = reinterpret_cast<const KestComboBox*>(
        hw.Record(std::uint16_t(hw.NameIndex("Stim Resolution")))->data());
    std::vector<float> values;
    for (unsigned i = 0; i < box->itemCount; ++i) {
        const auto* item = reinterpret_cast<const KestComboBoxItem*>(
            hw.Record(std::uint16_t(box->firstItem + i))->data());
        values.push_back(std::stof(Text(item->text, 128)));
        std::size_t used = 0;
        std::stof(Text(item->text, 128), &used);
        EXPECT_EQ(used, Text(item->text, 128).size()) << "the whole text is the number";
    }
    EXPECT_EQ(values, (std::vector<float>{1, 2, 5, 10, 20}));
    const auto* exhaust = reinterpret_cast<const KestComboBox*>(
        hw.Record(std::uint16_t(hw.NameIndex("Stim Exhausting Resistor")))->data());
    const auto* off =
        reinterpret_cast<const KestComboBoxItem*>(hw.Record(exhaust->firstItem)->data());
    float ohms;
    std::memcpy(&ohms, &(*hw.Record(off->propIndex))[4], 4);
    EXPECT_GT(ohms, 9e8f) << "the off position reads above 9e8";
}

TEST_F(ModelTest, HardwareVersionTextsParseAndMatchTheModelLists) {
    for (unsigned f = 0; f < 4; ++f) {
        std::string text = Text(decoder.modules[std::uint8_t(2 * f + 1)].Desc()->hwVersion, 48);
        ASSERT_GE(text.size(), 15u) << text;
        EXPECT_EQ(text[6], '-');
        EXPECT_TRUE(isdigit(text[12]) && isdigit(text[14])) << text;
        EXPECT_EQ(std::stoi(text.substr(7, 4)), int(42 + f)) << text;
    }
    std::string stim = Text(decoder.modules[1].Desc()->hwVersion, 48);
    EXPECT_EQ(stim.substr(0, 11), "SF3217-0042");
#ifdef PAXSIM_HAVE_MODEL_LISTS
    auto in = [](const auto& list, const std::string& name) {
        for (const char* part : list) {
            if (name.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(in(kStimCalibPartNumbers, paxsim::kStimPartNumber));
    EXPECT_TRUE(in(kMaxStimLimitPartNumbers, paxsim::kStimPartNumber));
    EXPECT_TRUE(in(kStimCalibPartNumbers, paxsim::kStimCalibOnlyPartNumber));
    EXPECT_FALSE(in(kMaxStimLimitPartNumbers, paxsim::kStimCalibOnlyPartNumber));
    EXPECT_TRUE(in(kMaxStimLimitPartNumbers, paxsim::kStimLimitOnlyPartNumber));
    EXPECT_FALSE(in(kStimCalibPartNumbers, paxsim::kStimLimitOnlyPartNumber));
    EXPECT_FALSE(in(kStimCalibPartNumbers, paxsim::kRecordingPartNumber));
#endif
}

TEST_F(ModelTest, AnalogAndDigitalModules) {
    DecodedModule& analog = decoder.modules[33];
    EXPECT_EQ(analog.Desc()->moduleClass, 4);
    const KestBlockDesc* phys = analog.BlockByKind(kKestPhysicalChannelBlock);
    int inputs = 0, outputs = 0;
    for (unsigned i = 0; i < phys->count; ++i) {
        const auto* pc = reinterpret_cast<const KestPhysicalChannelDesc*>(
            analog.Record(std::uint16_t(phys->first + i))->data());
        std::string name = Text(pc->name, 64);
        inputs += name.find("In") != std::string::npos;
        outputs += name.find("Out") != std::string::npos;
    }
    EXPECT_EQ(inputs, 16);
    EXPECT_EQ(outputs, 4);
    EXPECT_GT(analog.StreamId("30ksps"), 0);
    EXPECT_EQ(analog.StreamDesc(analog.StreamId("1ksps"))->period, 30);
    ASSERT_NE(analog.BlockByKind(kKestInputConnectionBlock), nullptr);
    EXPECT_EQ(analog.BlockByKind(kKestInputConnectionBlock)->count, 4);

    DecodedModule& digital = decoder.modules[34];
    EXPECT_EQ(digital.StreamId("digin"), 1);
    EXPECT_EQ(digital.StreamDesc(1)->dataKind, kKestDigitalEventData);
    EXPECT_GT(digital.NameIndex("Capture Any Parallel Bit Change"), 0);
    EXPECT_EQ(digital.NameIndex("Digital Output"), 53);
    ASSERT_NE(digital.BlockByKind(kKestInputConnectionBlock), nullptr);
    const auto* connection = reinterpret_cast<const KestComboBoxItem*>(
        digital.Record(digital.BlockByKind(kKestInputConnectionBlock)->first)->data());
    EXPECT_EQ(connection->propIndex, 0) << "outputs start disabled (source module 0)";
    EXPECT_EQ(Text(connection->text, 128), "SMA Out 1");
}

TEST_F(ModelTest, SingleRequestsAndUnknownAddresses) {
    ModelDecoder one;
    EXPECT_EQ(one.Feed(Ask(model, 1, 3, 0)), 1);
    EXPECT_EQ(one.Feed(Ask(model, 1, 99, 0)), 0) << "unknown module: no answer";
    EXPECT_EQ(one.Feed(Ask(model, 1, 3, 60000)), 0) << "unknown index: no answer";
    EXPECT_EQ(one.Feed(Ask(model, 7, 3, 0)), 0) << "another processor's request";
    EXPECT_EQ(model.Counters().ignored, 3u);
}

TEST_F(ModelTest, SetIsStoredAndEchoedByteForByte) {
    std::uint16_t index = std::uint16_t(decoder.modules[0].NameIndex("Event LED"));
    std::vector<std::uint8_t> echo = Set(model, 0, index, BoolSet(true), 123456);
    std::uint8_t expected[20] = {5, 1, 0, 0, 0x40, 0xE2, 0x01, 0x00, 1, 0,
                                 0, 0, 1, 3, 0,    0,    1,    0,    0, 0};
    kest::StoreLe(&expected[10], index);
    ASSERT_EQ(echo.size(), 20u);
    EXPECT_EQ(0, std::memcmp(echo.data(), expected, 20));
    ModelDecoder again;
    again.Feed(Ask(model, 1, 0, index));
    EXPECT_EQ(again.modules[0].Record(index)->at(4), 1) << "stored";
}

TEST_F(ModelTest, DescriptorsAndBadSelectionsAreRefusedWithTheStoredRecord) {
    // A block descriptor overwritten by a short record would break every later lookup.
    std::vector<std::uint8_t> echo = Set(model, 1, 1, BoolSet(true));
    ModelDecoder refused;
    refused.Feed(echo);
    ASSERT_NE(refused.modules[1].Record(1), nullptr);
    EXPECT_EQ(*refused.modules[1].Record(1), *decoder.modules[1].Record(1));
    const KestBlockDesc* phys = decoder.modules[1].BlockByKind(kKestPhysicalChannelBlock);
    EXPECT_EQ(Set(model, 1, phys->first, BoolSet(true)).size(),
              KestConfigPacketBytes(decoder.modules[1].Record(phys->first)->size()));
    EXPECT_EQ(model.Counters().refused, 2u);

    DecodedModule& hw = decoder.modules[1];
    std::uint16_t res = std::uint16_t(hw.NameIndex("Stim Resolution"));
    std::vector<std::uint8_t> box = *hw.Record(res);
    box[4] = 5; // one past the last of five items
    echo = Set(model, 1, res, box);
    ASSERT_EQ(echo.size(), 152u);
    EXPECT_EQ(echo[16], 0) << "selection unchanged";
    box[4] = 4;
    box[8] = 0x77; // a client cannot move the items
    echo = Set(model, 1, res, box);
    EXPECT_EQ(echo[16], 4);
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&echo[20]),
              kest::LoadLe<std::uint16_t>(&hw.Record(res)->at(8)));
    EXPECT_EQ(model.Counters().refused, 3u);

    // Writable records next to them still take sets: a stream's enable switch.
    const auto* raw = reinterpret_cast<const KestOutputStreamDesc*>(
        hw.Record(std::uint16_t(hw.BlockByKind(kKestOutputStreamBlock)->first))->data());
    const auto* first = reinterpret_cast<const KestStreamChannelRecord*>(
        hw.Record(raw->firstChannelRecord)->data());
    echo = Set(model, 1, first->enableIndex, BoolSet(false));
    ASSERT_EQ(echo.size(), 20u);
    EXPECT_EQ(echo[16], 0);
    EXPECT_EQ(model.Counters().refused, 3u);
}

TEST_F(ModelTest, EchoKnobsDropAlterAndDelay) {
    std::uint16_t index = std::uint16_t(decoder.modules[0].NameIndex("F1 LED"));
    model.SetEchoMode(paxsim::EchoMode::Drop);
    EXPECT_TRUE(Set(model, 0, index, BoolSet(true)).empty());
    model.SetEchoMode(paxsim::EchoMode::Alter);
    std::vector<std::uint8_t> altered = Set(model, 0, index, BoolSet(true));
    ASSERT_EQ(altered.size(), 20u);
    EXPECT_EQ(altered[16], 0) << "the echo carries another value";

    // A combo box selection moves on to the next item.
    DecodedModule& hw = decoder.modules[1];
    std::uint16_t res = std::uint16_t(hw.NameIndex("Stim Resolution"));
    std::vector<std::uint8_t> box = *hw.Record(res);
    box[4] = 2;
    std::vector<std::uint8_t> boxEcho = Set(model, 1, res, box);
    ASSERT_EQ(boxEcho.size(), 152u);
    EXPECT_EQ(boxEcho[16], 3);

    model.SetEchoMode(paxsim::EchoMode::Normal);
    model.SetEchoDelay(300);
    EXPECT_TRUE(Set(model, 0, index, BoolSet(true), 5000).empty());
    Outbox out;
    model.Poll(5299, out);
    EXPECT_TRUE(out.Empty());
    model.Poll(5300, out);
    ASSERT_EQ(out.Packets(), 1u);
    EXPECT_EQ(out.Bytes()[16], 1);
    EXPECT_EQ(kest::LoadLe<std::uint32_t>(&out.Bytes()[4]), 5300u);
}

TEST_F(ModelTest, StimSequencePlaysAsSegmentsWhenEnabled) {
    DecodedModule& hw = decoder.modules[1];
    std::uint16_t channel5 =
        std::uint16_t(hw.BlockByName("Stim Control Descriptor Block")->first + 5);
    // Header: immediate, period 300 ticks, 3 repeats; one cathodic and one anodic word.
    std::vector<std::uint32_t> words = {0x0012C003, (2u << 16) | 0x2000 | 10,
                                        (3u << 16) | 0x2000 | 0x80 | 10};
    std::vector<std::uint8_t> record(16 + 4 * words.size(), 0);
    kest::StoreLe<std::uint16_t>(&record[4], std::uint16_t(2 * words.size()));
    kest::StoreLe<std::uint16_t>(&record[6], std::uint16_t(2 * words.size()));
    std::memcpy(&record[16], words.data(), 4 * words.size());

    // Globally disabled: ignored.
    Set(model, 1, channel5, record, 10000);
    Outbox out;
    model.Poll(20000, out);
    EXPECT_TRUE(out.Empty());

    Set(model, 0, std::uint16_t(decoder.modules[0].NameIndex("Stim Enable")), BoolSet(true));
    std::vector<std::uint8_t> echo = Set(model, 1, channel5, record, 10000);
    ASSERT_FALSE(echo.empty());
    EXPECT_EQ(echo[13], paxsim::kListRecordType) << "a zero head keeps the property's own";
    model.Poll(10299, out);
    ModelDecoder segments;
    segments.Feed(out.Bytes());
    ASSERT_EQ(segments.dataPackets.size(), 1u);
    model.Poll(10700, out);
    segments = ModelDecoder();
    segments.Feed(out.Bytes());
    ASSERT_EQ(segments.dataPackets.size(), 3u);
    int stimStream = hw.StreamId("stim") + 5;
    for (unsigned k = 0; k < 3; ++k) {
        const auto* seg =
            reinterpret_cast<const KestSegmentDataPacketFixed*>(segments.dataPackets[k].data());
        EXPECT_EQ(seg->header.size, 30);
        EXPECT_EQ(seg->header.procId, 1);
        EXPECT_EQ(seg->header.moduleId, 1);
        EXPECT_EQ(seg->header.streamId, stimStream);
        EXPECT_EQ(seg->header.timestamp, 10000 + 300 * k);
        EXPECT_EQ(seg->sequence, k);
        std::int16_t expected[6] = {-10, -10, 10, 10, 10, 0};
        EXPECT_EQ(0, std::memcmp(seg->waveform, expected, sizeof expected));
    }
}

TEST_F(ModelTest, ImpedanceCycleAnswersWithMeasurementsAndMarkers) {
    ModelConfig config = ModelConfig::Default(2);
    config.impedanceUnderflow.insert(33);
    config.impedanceOverflow.insert(34);
    ProcessorModel model2(config);
    ModelDecoder d;
    Handshake(model2, d);
    DecodedModule& hw = d.modules[3];
    std::uint16_t control = std::uint16_t(hw.NameIndex("Impedance Control"));
    std::vector<std::uint8_t> record(16 + 8 * 3, 0);
    record[0] = 1;
    record[1] = kKestImplantStatusType;
    kest::StoreLe<std::uint16_t>(&record[4], 12);
    kest::StoreLe<std::uint16_t>(&record[6], 12);
    for (unsigned k = 0; k < 3; ++k) {
        kest::StoreLe<std::uint16_t>(&record[16 + 8 * k], std::uint16_t(k));
        kest::StoreLe<std::uint16_t>(&record[22 + 8 * k], 1);
    }
    ModelDecoder echo;
    echo.Feed(Set(model2, 3, control, record));
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&echo.modules[3].Record(control)->at(6)), 12);

    ModelDecoder result;
    result.Feed(Set(model2, 3, std::uint16_t(hw.NameIndex("Impedance Cycle")), BoolSet(true)));
    const auto* measurements = result.modules[3].Record(hw.NameIndex("Impedance Measurements"));
    ASSERT_NE(measurements, nullptr);
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&measurements->at(6)), 6);
    float ohms;
    std::memcpy(&ohms, &measurements->at(20), 4);
    EXPECT_FLOAT_EQ(ohms, ProcessorModel::ImpedanceOhms(32));
    EXPECT_EQ(kest::LoadLe<std::uint32_t>(&measurements->at(28)), 0x7F7F0002u);
    EXPECT_EQ(kest::LoadLe<std::uint32_t>(&measurements->at(36)), 0x7F7F0001u);
}

TEST_F(ModelTest, DigitalOutputCommandIsApplied) {
    std::vector<std::uint8_t> record(20, 0);
    record[0] = 1;
    record[1] = kKestIntegerType;
    kest::StoreLe<std::uint32_t>(&record[4], 0x9F01ABCD);
    std::vector<std::uint8_t> echo = Set(model, 34, 53, record);
    EXPECT_EQ(echo.size(), 32u);
    EXPECT_EQ(model.DigitalOutputWord(), 0x9F01ABCDu);
}

TEST_F(ModelTest, TransceiverStatusAndCommandAnswers) {
    DecodedModule& hw = decoder.modules[7];
    std::uint16_t status = std::uint16_t(hw.NameIndex("Implant Status"));
    std::vector<std::uint8_t> request(80, 0);
    request[0] = 1;
    request[1] = kKestImplantStatusType;
    kest::StoreLe<std::uint16_t>(&request[4], 32);
    ModelDecoder answer;
    answer.Feed(Set(model, 7, status, request));
    ASSERT_NE(answer.modules[7].Record(status), nullptr);
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&answer.modules[7].Record(status)->at(6)), 32);

    std::uint16_t command = std::uint16_t(hw.NameIndex("Transceiver Command"));
    std::vector<std::uint8_t> cmd(72, 0);
    cmd[0] = 1;
    cmd[1] = kKestTransceiverCommandType;
    kest::StoreLe<std::uint16_t>(&cmd[4], 0x1234);
    kest::StoreLe<std::uint16_t>(&cmd[6], 32);
    kest::StoreLe<std::uint16_t>(&cmd[8], 0xBEEF);
    ModelDecoder ack;
    ack.Feed(Set(model, 7, command, cmd));
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&ack.modules[7].Record(command)->at(6)), 32);

    std::uint16_t response = std::uint16_t(hw.NameIndex("Implant Command Response"));
    ModelDecoder reply;
    reply.Feed(Set(model, 7, response, request));
    const auto* r = reply.modules[7].Record(response);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&r->at(16)), 0x1234);
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&r->at(18)), 0xBEEF);
}

TEST_F(ModelTest, ButtonsErrorsRestartAndNewModules) {
    Outbox out;
    EXPECT_TRUE(model.PressButton("f2", 77, out));
    EXPECT_FALSE(model.PressButton("f9", 77, out));
    ModelDecoder press;
    press.Feed(out.Bytes());
    EXPECT_EQ(press.configPackets, 2u);

    out.Clear();
    ProcessorModel::AppendErrorMessage(6, 42, "overheated", 99, out);
    ModelDecoder errors;
    errors.Feed(out.Bytes());
    ASSERT_EQ(errors.errorPackets.size(), 1u);
    const auto& e = errors.errorPackets[0];
    EXPECT_EQ(e.size(), 12u + 20 + 12);
    EXPECT_EQ(kest::LoadLe<std::uint32_t>(&e[16]), 6u);
    EXPECT_EQ(kest::LoadLe<std::uint32_t>(&e[20]), 42u);
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&e[30]), 10);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&e[32]), 10), "overheated");

    std::uint16_t restart = std::uint16_t(decoder.modules[0].NameIndex("Restart Paxexec Trigger"));
    Set(model, 0, restart, BoolSet(true));
    EXPECT_TRUE(model.TakeRestartRequest());
    EXPECT_FALSE(model.TakeRestartRequest());

    EXPECT_EQ(model.AddFrontEnd(paxsim::FrontEndKind::Recording), 9);
    ModelDecoder after;
    after.Feed(Ask(model, 1, 255, 0));
    EXPECT_EQ(after.modules.size(), 13u);
    model.Reset();
    ModelDecoder reset;
    reset.Feed(Ask(model, 1, 255, 0));
    EXPECT_EQ(reset.modules.size(), 11u);
}

TEST(ModelConfigTest, SixteenFrontEndsAndLimits) {
    ProcessorModel model(ModelConfig::Default(16));
    EXPECT_EQ(model.Modules().size(), 35u);
    EXPECT_EQ(model.AddFrontEnd(paxsim::FrontEndKind::Stim), 0) << "no free position";
    EXPECT_THROW(ProcessorModel(ModelConfig::Default(17)), std::invalid_argument);
    EXPECT_THROW(ProcessorModel(ModelConfig::Default(0)), std::invalid_argument);
    ModelConfig odd = ModelConfig::Default(1);
    odd.frontEnds[0].channels = 8;
    ProcessorModel small(odd);
    EXPECT_EQ(small.Find(1)->Stream("raw")->channels, 8);
    EXPECT_EQ(paxsim::ParseKind("emg"), paxsim::FrontEndKind::Emg);
    EXPECT_THROW(paxsim::ParseKind("fancy"), std::invalid_argument);
}

TEST(ModelRobustnessTest, ArbitraryClientPacketsNeverBreakTheModel) {
    // Sets of random bytes to every kind of property, short records and stray requests:
    // afterwards the model must still answer the start-up completely and stream stim.
    ProcessorModel model(ModelConfig::Default(4));
    ModelDecoder before;
    Handshake(model, before);
    std::uint32_t state = 12345;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    std::vector<std::uint8_t> packet(kKestMaxPacketSize);
    Outbox out;
    for (int i = 0; i < 20000; ++i) {
        std::size_t bytes = 12 + 4 * (next() % 64);
        for (std::size_t b = 0; b < bytes; ++b) {
            packet[b] = std::uint8_t(next());
        }
        packet[0] = std::uint8_t(bytes / 4);
        packet[3] = next() % 8 == 0 ? 1 : 0;
        packet[8] = next() % 4 == 0 ? 255 : 1;
        std::vector<std::uint8_t> ids;
        for (const auto& entry : before.modules) {
            ids.push_back(entry.first);
        }
        std::uint8_t module = ids[next() % ids.size()];
        packet[9] = module;
        std::uint16_t count = before.modules[module].Desc()->propertyCount;
        kest::StoreLe<std::uint16_t>(&packet[10], std::uint16_t(next() % (count + 2)));
        out.Clear();
        model.HandlePacket(packet.data(), bytes, std::uint32_t(i), out);
        model.Poll(std::uint32_t(i), out);
        ModelDecoder answers;
        ASSERT_GE(answers.Feed(out.Bytes()), 0) << "answers are whole packets";
    }
    ModelDecoder after;
    Handshake(model, after);
    EXPECT_EQ(after.modules.size(), before.modules.size());
    for (const auto& [id, module] : before.modules) {
        EXPECT_EQ(after.modules[id].records.size(), module.records.size()) << int(id);
        EXPECT_EQ(*after.modules[id].Record(0), *module.Record(0)) << "descriptors unchanged";
    }
}

} // namespace
