// A small processor model for the cache tests: it lays out modules the way the processor
// describes itself (module descriptor, blocks, property descriptors, values, output
// streams with per-channel records) and emits the packets that describe it, then data.
#pragma once

#include "protocol/KestPacket.h"
#include "protocol/KestPacketBuilder.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace testmodel {

using Bytes = std::vector<std::uint8_t>;

template <typename Record> Bytes RecordBytes(const Record& record, std::size_t length = 0) {
    Bytes bytes(length ? length : sizeof(Record));
    std::memcpy(bytes.data(), &record, bytes.size() < sizeof record ? bytes.size() : sizeof record);
    return bytes;
}

inline void SetText(char* field, std::size_t capacity, const std::string& text) {
    std::memset(field, 0, capacity);
    std::memcpy(field, text.data(), text.size() < capacity - 1 ? text.size() : capacity - 1);
}

struct StreamSpec {
    std::string name;
    std::uint8_t kind;   // 1, 4 continuous, 8 float, 2 segment, 6 digital
    std::uint8_t period; // ticks
    std::uint16_t channels;
    float scale;
};

class Module {
  public:
    Module(unsigned id, std::uint16_t moduleClass, const std::string& label,
           const std::string& hwVersion = "", const std::string& swVersion = "")
        : id_(id) {
        desc_.head = {1, kKestModuleDescType, 0, 0};
        desc_.moduleClass = moduleClass;
        SetText(desc_.label, sizeof desc_.label, label);
        SetText(desc_.hwVersion, sizeof desc_.hwVersion, hwVersion);
        SetText(desc_.swVersion, sizeof desc_.swVersion, swVersion);
        records_.push_back({}); // the module descriptor, filled by Finish
    }

    unsigned Id() const { return id_; }
    unsigned Next() const { return unsigned(records_.size()); }

    unsigned Add(Bytes record) {
        records_.push_back(std::move(record));
        return unsigned(records_.size() - 1);
    }

    // A block descriptor followed by `members` records from make(i).
    template <typename Make>
    unsigned AddBlock(std::uint8_t kind, const std::string& name, unsigned members, Make make) {
        KestBlockDesc block{};
        block.head = {1, kKestBlockDescType, 0, 0};
        block.kind = kind;
        block.count = std::uint16_t(members);
        block.first = std::uint16_t(Next() + 1);
        SetText(block.name, sizeof block.name, name);
        unsigned index = Add(RecordBytes(block));
        ++blocks_;
        for (unsigned i = 0; i < members; ++i) {
            Add(make(i));
        }
        return index;
    }

    // A block around the records added between BeginBlock and EndBlock.
    unsigned BeginBlock(std::uint8_t kind, const std::string& name) {
        return AddBlock(kind, name, 0, [](unsigned) { return Bytes{}; });
    }
    void EndBlock(unsigned index) {
        auto* block = reinterpret_cast<KestBlockDesc*>(records_[index].data());
        block->first = std::uint16_t(index + 1);
        block->count = std::uint16_t(Next() - index - 1);
    }

    // A property descriptor named `name` and, right after it, its value record.
    unsigned AddNamed(const std::string& name, std::uint8_t valueType, Bytes value,
                      std::uint16_t valueCount = 1) {
        KestPropertyDesc desc{};
        desc.head = {1, kKestPropertyDescType, 0, 0};
        desc.valueType = valueType;
        desc.valueCount = valueCount;
        desc.valueIndex = std::uint16_t(Next() + 1);
        SetText(desc.name, sizeof desc.name, name);
        Add(RecordBytes(desc));
        return Add(std::move(value));
    }

    unsigned AddBool(const std::string& name, bool value) {
        KestBool record{};
        record.head = {1, kKestBoolType, 0, 0};
        record.value = value ? 1 : 0;
        return AddNamed(name, kKestBoolType, RecordBytes(record));
    }

    unsigned AddFloat(const std::string& name, float value) {
        KestFloat record{};
        record.head = {1, kKestFloatType, 0, 0};
        record.value = value;
        return AddNamed(name, kKestFloatType, RecordBytes(record));
    }

    unsigned AddInteger(const std::string& name, std::int32_t value) {
        KestInteger record{};
        record.head = {1, kKestIntegerType, 0, 0};
        record.value = value;
        return AddNamed(name, kKestIntegerType, RecordBytes(record));
    }

    // A combo box whose items follow it; item i carries text items[i] and points at
    // property targets[i] (when given).
    unsigned AddComboBox(const std::string& name, const std::vector<std::string>& items,
                         std::uint16_t selection = 0, const std::vector<unsigned>& targets = {}) {
        KestComboBox box{};
        box.head = {1, kKestComboBoxType, 0, 0};
        box.selection = selection;
        box.itemCount = std::uint16_t(items.size());
        box.firstItem = std::uint16_t(Next() + 2);
        unsigned index = AddNamed(name, kKestComboBoxType, RecordBytes(box));
        for (std::size_t i = 0; i < items.size(); ++i) {
            KestComboBoxItem item{};
            item.head = {1, kKestComboBoxType, 0, 0};
            item.propIndex = std::uint16_t(i < targets.size() ? targets[i] : 0);
            SetText(item.text, sizeof item.text, items[i]);
            Add(RecordBytes(item));
        }
        return index;
    }

    // The physical-channel block: channel c at (port, slot), named names(c).
    template <typename Name>
    unsigned AddPhysicalChannels(unsigned count, unsigned port, unsigned slot, Name names,
                                 float statusScale = 0.5f) {
        return physBlock_ =
                   AddBlock(kKestPhysicalChannelBlock, "Physical Channels", count, [&](unsigned c) {
                       KestPhysicalChannelDesc channel{};
                       channel.head = {1, 14, 0, 0};
                       channel.port = std::uint8_t(port);
                       channel.slot = std::uint8_t(slot);
                       channel.channel = std::uint16_t(c);
                       channel.hwStatusScale = statusScale;
                       SetText(channel.name, sizeof channel.name, names(c));
                       return RecordBytes(channel);
                   });
    }

    // The output-stream block; per-channel records and an enable switch per stream
    // follow it. Returns the stream id of the first stream.
    void AddStreams(const std::vector<StreamSpec>& streams) {
        unsigned block =
            AddBlock(kKestOutputStreamBlock, "Output Streams", unsigned(streams.size()),
                     [&](unsigned) { return Bytes(sizeof(KestOutputStreamDesc)); });
        for (unsigned s = 0; s < streams.size(); ++s) {
            const StreamSpec& spec = streams[s];
            KestBool enable{};
            enable.head = {1, kKestBoolType, 0, 0};
            enable.value = 1;
            unsigned enableIndex = Add(RecordBytes(enable));
            unsigned firstChannel = Next();
            for (unsigned c = 0; c < spec.channels; ++c) {
                KestStreamChannelRecord channel{};
                channel.head = {1, 19, 0, 0};
                channel.physChannelIndex = std::uint16_t(physBlock_ + 1 + c);
                channel.enableIndex = std::uint16_t(enableIndex);
                Add(RecordBytes(channel));
            }
            KestOutputStreamDesc desc{};
            desc.head = {1, kKestOutputStreamDescType, 0, 0};
            desc.dataKind = spec.kind;
            desc.period = spec.period;
            desc.firstChannelRecord = std::uint16_t(firstChannel);
            desc.channelCount = spec.channels;
            desc.adcScale = spec.scale;
            SetText(desc.label, sizeof desc.label, spec.name + " stream");
            SetText(desc.name, sizeof desc.name, spec.name);
            records_[block + 1 + s] = RecordBytes(desc);
        }
    }

    // Records of the module, index 0 being the module descriptor.
    const std::vector<Bytes>& Records() {
        desc_.blockCount = std::uint16_t(blocks_);
        desc_.propertyCount = std::uint16_t(records_.size());
        records_[0] = RecordBytes(desc_);
        return records_;
    }

  private:
    unsigned id_;
    KestModuleDesc desc_{};
    std::vector<Bytes> records_;
    unsigned blocks_ = 0;
    unsigned physBlock_ = 0;
};

// A configuration packet from the processor for module `module`, property `index`.
inline Bytes ConfigPacket(unsigned module, unsigned index, const Bytes& record,
                          std::uint32_t time = 100, std::uint8_t proc = 1) {
    Bytes packet(kKestMaxPacketSize);
    std::size_t bytes =
        KestBuildConfigPacket(packet.data(), packet.size(), proc, std::uint8_t(module),
                              std::uint16_t(index), record.data(), record.size(), time);
    packet.resize(bytes);
    auto* header = reinterpret_cast<KestPacket*>(packet.data());
    header->procId = proc;
    header->moduleId = std::uint8_t(module);
    return packet;
}

// One continuous sample of a 16-bit stream.
inline Bytes ContPacket(unsigned module, unsigned stream, std::uint32_t time,
                        const std::vector<std::int16_t>& values, std::uint16_t flags = 0) {
    Bytes packet((12 + values.size() * 2 + 3) / 4 * 4, 0);
    auto* data = reinterpret_cast<KestDataPacket*>(packet.data());
    data->header = {std::uint8_t(packet.size() / 4), 1, std::uint8_t(module), std::uint8_t(stream),
                    time};
    data->dataKind = kKestContinuousData;
    data->flagsOrSeq = flags;
    std::memcpy(packet.data() + 12, values.data(), values.size() * 2);
    return packet;
}

inline Bytes FloatPacket(unsigned module, unsigned stream, std::uint32_t time,
                         const std::vector<float>& values) {
    Bytes packet(12 + values.size() * 4, 0);
    auto* data = reinterpret_cast<KestDataPacket*>(packet.data());
    data->header = {std::uint8_t(packet.size() / 4), 1, std::uint8_t(module), std::uint8_t(stream),
                    time};
    data->dataKind = kKestContinuousData;
    std::memcpy(packet.data() + 12, values.data(), values.size() * 4);
    return packet;
}

inline Bytes SegmentPacket(unsigned module, unsigned stream, std::uint32_t time,
                           std::uint16_t sequence, std::uint16_t unit) {
    KestSegmentDataPacketFixed segment{};
    segment.header = {30, 1, std::uint8_t(module), std::uint8_t(stream), time};
    segment.dataKind = kKestSegmentData;
    segment.sequence = sequence;
    segment.unit = unit;
    for (std::size_t i = 0; i < kKestSegmentWaveformSamples; ++i) {
        segment.waveform[i] = std::int16_t(i * unit);
    }
    return RecordBytes(segment);
}

inline Bytes DigitalPacket(std::uint32_t time, std::uint16_t sequence, std::uint16_t parallel) {
    KestDigitalEventPacket event{};
    event.header = {7, 1, std::uint8_t(kKestDigitalModule), 1, time};
    event.dataKind = kKestDigitalEventData;
    event.sequence = sequence;
    event.parallel = parallel;
    return RecordBytes(event);
}

inline Bytes ErrorPacket(std::uint32_t level, std::uint32_t code, const std::string& text,
                         std::uint8_t detail1 = 0) {
    Bytes record(kKestErrorMessageHeadSize + text.size(), 0);
    auto* wire = reinterpret_cast<KestErrorMessage*>(record.data());
    wire->head = {1, 40, 0, 0};
    wire->level = level;
    wire->code = code;
    wire->detail1 = detail1;
    wire->textLength = std::uint16_t(text.size());
    std::memcpy(record.data() + kKestErrorMessageHeadSize, text.data(), text.size());
    return ConfigPacket(0, kKestErrorPropIndex, record);
}

// A processor with `frontEnds` front ends (hardware module 2k+1 at port k/4, slot k%4,
// processing module 2k+2), the analog module 33 and the digital module 34.
struct Processor {
    std::vector<Module> modules;

    explicit Processor(unsigned frontEnds = 2) {
        Module proc(0, 0, "processor", "", "7.4.1");
        proc.AddBlock(kKestProcessorBlock, "Processor", 1, [&](unsigned) {
            KestProcessorDesc desc{};
            desc.head = {1, kKestProcessorDescType, 0, 0};
            desc.moduleCount = std::uint16_t(frontEnds * 2 + 2);
            SetText(desc.serial, sizeof desc.serial, "PX-0042");
            return RecordBytes(desc);
        });
        unsigned scope = proc.BeginBlock(kKestModuleScopeBlock, "Module Scope");
        proc.AddBool("Stim Enable", true);
        proc.AddBool("Stim Trigger", false);
        proc.AddBool("Event Button", false);
        proc.AddInteger("Internal Battery", 87);
        proc.EndBlock(scope);
        proc.AddNamed("Recording Trial Descriptor", kKestTrialDescType, [] {
            KestRecordingTrialDescriptor trial{};
            trial.head = {1, kKestTrialDescType, 0, 0};
            trial.SetStatus(kKestTrialStopped);
            return RecordBytes(trial);
        }());
        proc.AddBlock(kKestSignalSelectionBlock, "Signal Selection", frontEnds, [&](unsigned k) {
            BmFeSignalSelectionDesc desc{};
            desc.head = {1, kKestSignalSelectionDescType, 0, 0};
            desc.port = std::uint8_t(k / 4);
            desc.slot = std::uint8_t(k % 4);
            desc.valid = 1;
            return RecordBytes(desc);
        });
        modules.push_back(std::move(proc));

        for (unsigned k = 0; k < frontEnds; ++k) {
            const unsigned hw = 2 * k + 1;
            Module front(hw, 1, k == 0 ? "FE stim 32" : "FE record 32",
                         k == 0 ? "SF3217-0042.2.1" : "RF3200-0007.1.3");
            front.AddPhysicalChannels(32, k / 4, k % 4,
                                      [](unsigned c) { return "elec " + std::to_string(c); });
            std::vector<StreamSpec> streams = {{"raw", kKestContinuousData, 1, 32, 0.25f},
                                               {"HW Status", kKestContinuousData, 30, 4, 1.0f}};
            for (unsigned c = 0; c < 32; ++c) {
                streams.push_back({"stim", kKestSegmentData, 1, 1, 0.5f});
            }
            front.AddStreams(streams);
            front.AddBool("Stim Enable", true);
            front.AddComboBox("Stim Resolution", {"1", "2.5", "10"}, 1);
            front.AddComboBox("Fast Settle Stim", {"Off", "On"});
            front.AddBlock(20, "Stim Control Descriptor Block", 32, [](unsigned) {
                KestWordArray words{};
                words.head = {1, 10, 0, 0};
                return RecordBytes(words, kKestWordArrayHeadSize);
            });
            modules.push_back(std::move(front));

            Module processing(hw + 1, 2, "FE processing");
            processing.AddPhysicalChannels(0, 0, 0, [](unsigned) { return std::string(); });
            std::vector<StreamSpec> filtered = {{"lfp", kKestContinuousData, 30, 32, 0.5f},
                                                {"hi-res", kKestFloatData, 15, 32, 1.0f}};
            for (unsigned c = 0; c < 32; ++c) {
                filtered.push_back({"spk", kKestSegmentData, 1, 1, 0.25f});
            }
            processing.AddStreams(filtered);
            processing.AddBlock(21, "Threshold Values Descriptor Block", 32, [](unsigned c) {
                Bytes record(28, 0);
                record[1] = 27;
                float lower = -100.0f - float(c), upper = 100.0f + float(c);
                std::memcpy(&record[20], &lower, 4);
                std::memcpy(&record[24], &upper, 4);
                return record;
            });
            modules.push_back(std::move(processing));
        }

        Module analog(kKestAnalogModule, 4, "analog io");
        analog.AddPhysicalChannels(4, 0, 0, [](unsigned c) {
            return c < 2 ? "Analog In " + std::to_string(c) : "Analog Out " + std::to_string(c);
        });
        analog.AddStreams({{"30ksps", kKestContinuousData, 1, 4, 0.1f},
                           {"1ksps", kKestContinuousData, 30, 4, 0.1f}});
        modules.push_back(std::move(analog));

        Module digital(kKestDigitalModule, 5, "digital io");
        digital.AddPhysicalChannels(0, 0, 0, [](unsigned) { return std::string(); });
        digital.AddStreams({{"parallel", kKestDigitalEventData, 1, 1, 1.0f}});
        digital.AddBool("Capture Any Parallel Bit Change", false);
        modules.push_back(std::move(digital));
    }

    Module& Find(unsigned id) {
        for (Module& module : modules) {
            if (module.Id() == id) {
                return module;
            }
        }
        throw std::out_of_range("no module " + std::to_string(id));
    }

    // Every packet that describes the processor: module descriptors first, then every
    // property of every module, stamped with processor time `time`.
    std::vector<Bytes> DescribePackets(std::uint32_t time = 1000) {
        std::vector<Bytes> packets;
        for (Module& module : modules) {
            packets.push_back(ConfigPacket(module.Id(), 0, module.Records()[0], time));
        }
        for (Module& module : modules) {
            const auto& records = module.Records();
            for (unsigned i = 1; i < records.size(); ++i) {
                packets.push_back(ConfigPacket(module.Id(), i, records[i], time));
            }
        }
        return packets;
    }
};

} // namespace testmodel
