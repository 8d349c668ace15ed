#include "emulator/model/ModelFactory.h"

#include "emulator/model/ModuleBuilder.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace paxsim {
namespace {

// Stream ids fixed by the layouts below.
constexpr std::uint8_t kRawStream = 1;
constexpr std::uint8_t kLfpStream = 1;
constexpr std::uint8_t kFirstSpkStream = 6;

struct StreamSpec {
    std::string name;
    std::string label;
    std::uint8_t kind;
    std::uint8_t period;
    std::uint16_t channels;
    float scale;
    bool on;
    int channel = -1; // per-channel stream: the one channel it carries
};

// The output-stream block and, after it, the block of per-channel records: for each stream
// its channel records and then one enable switch per channel. physFirst is the index of
// the physical channel record of channel 0 (in the hardware module for both modules of a
// front end).
void AddStreams(ModuleBuilder& b, const std::vector<StreamSpec>& specs, std::uint16_t physFirst) {
    b.BeginBlock(kKestOutputStreamBlock, "Output Streams");
    std::uint16_t descFirst = b.NextIndex();
    std::uint16_t channelBase = static_cast<std::uint16_t>(descFirst + specs.size());
    std::vector<std::uint16_t> bases;
    for (std::size_t k = 0; k < specs.size(); ++k) {
        const StreamSpec& spec = specs[k];
        KestOutputStreamDesc desc{};
        desc.head = {1, kKestOutputStreamDescType, 0, 0};
        desc.dataKind = spec.kind;
        desc.period = spec.period;
        desc.firstChannelRecord = channelBase;
        desc.channelCount = spec.channels;
        desc.adcScale = spec.scale;
        CopyText(desc.label, sizeof desc.label, spec.label);
        CopyText(desc.name, sizeof desc.name, spec.name);
        b.Add(RecordOf(desc));
        bases.push_back(channelBase);
        channelBase = static_cast<std::uint16_t>(channelBase + 2 * spec.channels);
    }
    b.EndBlock();

    b.BeginBlock(kStreamChannelBlock, "Stream Channels");
    for (std::size_t k = 0; k < specs.size(); ++k) {
        const StreamSpec& spec = specs[k];
        std::uint16_t enableFirst = static_cast<std::uint16_t>(bases[k] + spec.channels);
        for (std::uint16_t c = 0; c < spec.channels; ++c) {
            KestStreamChannelRecord record{};
            record.head = {1, kChannelRecordType, 0, 0};
            unsigned channel = spec.channel >= 0 ? unsigned(spec.channel) : c;
            record.physChannelIndex = static_cast<std::uint16_t>(physFirst + channel);
            record.enableIndex = c == 0 ? enableFirst : 0;
            b.Add(RecordOf(record));
        }
        for (std::uint16_t c = 0; c < spec.channels; ++c) {
            b.Add(BoolRecord(spec.on));
        }
        StreamInfo info;
        info.id = static_cast<std::uint8_t>(k + 1);
        info.name = spec.name.empty() ? spec.label : spec.name;
        info.dataKind = spec.kind;
        info.period = spec.period;
        info.channels = spec.channels;
        info.descIndex = static_cast<std::uint16_t>(descFirst + k);
        info.enableFirst = enableFirst;
        info.channel = spec.channel;
        b.Model().streams.push_back(info);
    }
    b.EndBlock();
}

void AddBoolArrayBlock(ModuleBuilder& b, const std::string& name, unsigned count, bool value) {
    b.BeginBlock(kStreamChannelBlock + 1, name);
    for (unsigned c = 0; c < count; ++c) {
        b.Add(BoolRecord(value));
    }
    b.EndBlock();
}

// A combo box whose items point at records added right after the items.
std::uint16_t AddComboWithTargets(ModuleBuilder& b, const std::string& name,
                                  const std::vector<std::string>& items,
                                  const std::vector<Record>& targets, std::uint16_t selection) {
    std::uint16_t box = b.AddCombo(name, items, selection);
    std::uint16_t firstItem = static_cast<std::uint16_t>(box + 1);
    std::uint16_t firstTarget = static_cast<std::uint16_t>(firstItem + items.size());
    for (std::size_t k = 0; k < items.size(); ++k) {
        View<KestComboBoxItem>(b.At(static_cast<std::uint16_t>(firstItem + k))).propIndex =
            static_cast<std::uint16_t>(firstTarget + k);
    }
    for (const Record& target : targets) {
        b.Add(target);
    }
    return box;
}

bool HasFastSettle(FrontEndKind kind) {
    return kind == FrontEndKind::Recording || kind == FrontEndKind::Stim;
}

std::string ChannelName(unsigned frontEnd, unsigned channel) {
    char text[32];
    std::snprintf(text, sizeof text, "%c-%u-%02u", 'A' + frontEnd / 4, frontEnd % 4 + 1,
                  channel + 1);
    return text;
}

} // namespace

ModuleModel BuildHardwareModule(const ModelConfig& config, unsigned frontEnd) {
    const FrontEndConfig& fe = config.frontEnds.at(frontEnd);
    const bool stim = fe.kind == FrontEndKind::Stim;
    const unsigned n = fe.channels;
    return BuildModule([&](ModuleBuilder& b) {
        b.BeginBlock(kKestPhysicalChannelBlock, "Physical Channels");
        std::uint16_t physFirst = b.NextIndex();
        for (unsigned c = 0; c < n; ++c) {
            KestPhysicalChannelDesc record{};
            record.head = {1, kKestPhysicalChannelBlock, 0, 0};
            record.port = static_cast<std::uint8_t>(frontEnd / 4);
            record.slot = static_cast<std::uint8_t>(frontEnd % 4);
            record.channel = static_cast<std::uint16_t>(c);
            record.hwStatusScale = 0.5f;
            CopyText(record.name, sizeof record.name, ChannelName(frontEnd, c));
            b.Add(RecordOf(record));
        }
        b.EndBlock();

        std::vector<StreamSpec> specs = {
            {"raw", "Raw 30 kS/s", kKestContinuousData, 1, std::uint16_t(n), 0.25f, fe.raw},
            {"HW Status", "Hardware Status", kKestContinuousData, 30, std::uint16_t(n), 1.0f,
             fe.hwStatus},
        };
        if (stim) {
            for (unsigned c = 0; c < n; ++c) {
                specs.push_back({"stim", "Stim Waveform " + std::to_string(c + 1), kKestSegmentData,
                                 1, 1, 1.0f, fe.stim, int(c)});
            }
        }
        AddStreams(b, specs, physFirst);

        b.BeginBlock(kKestModuleScopeBlock, "Front End Properties");
        if (stim) {
            b.AddNamed("Stim Enable", kKestBoolType, BoolRecord(true));
            b.AddNamed("Stim Trigger", kKestBoolType, BoolRecord(false));
            b.AddNamed("Stim Scale", kKestFloatType, FloatRecord(1.0f));
            b.AddCombo("Stim Source", {"Software", "Digital Input", "SMA 1", "SMA 2"}, 0);
            b.AddCombo("Stim Type", {"Edge", "Level"}, 0);
            b.AddNamed("Stim Event Trigger Map", kKestStimEventTriggerMapType,
                       EmptyRecord(kKestStimEventTriggerMapType, 12));
            b.AddCombo("Stim Resolution",
                       fe.stimResolution.empty()
                           ? std::vector<std::string>{"1", "2", "5", "10", "20"}
                           : fe.stimResolution,
                       0);
            // Calibration: the status word record, then five blocks of 128 table values.
            std::uint16_t calib = static_cast<std::uint16_t>(b.NextIndex() + 1);
            const unsigned blocks = std::max(fe.calibrationBlocks, 5u);
            b.Add(PropertyDescRecord("Stim Calibration", kListRecordType, calib,
                                     static_cast<std::uint16_t>(1 + blocks)));
            b.Add(WordArrayRecord(kListRecordType, 2));
            for (unsigned k = 0; k < blocks; ++k) {
                b.Add(WordArrayRecord(kListRecordType, 130));
            }
            b.Name("Stim Calibration", calib);
            std::vector<Record> resistors;
            for (float ohms : {1e9f, 1000.0f, 10000.0f, 100000.0f}) {
                resistors.push_back(FloatRecord(ohms));
            }
            AddComboWithTargets(b, "Stim Exhausting Resistor",
                                {"Off", "1 kOhm", "10 kOhm", "100 kOhm"}, resistors, 0);
        }
        if (HasFastSettle(fe.kind)) {
            b.AddCombo("Fast Settle Stim", {"Off", "On"}, 0);
            b.AddNamed("Fast Settle Stim Duration", kKestFloatType,
                       RangedFloatRecord(0.5f, 0.0f, 10.0f));
            b.AddCombo("Fast Settle Source",
                       {"Off", "Digital Input 1", "Digital Input 2", "Digital Input 3",
                        "Digital Input 4", "Parallel Port"},
                       0);
            b.AddNamed("Fast Settle Duration", kKestFloatType,
                       RangedFloatRecord(1.0f, 0.0f, 10.0f));
        }
        b.AddCombo("ADC to Physical Units Selector", {"0.25 uV/count", "1.0 uV/count"}, 0);
        b.AddCombo("Hardware Filter High-Pass Corner", {"0.1 Hz", "0.3 Hz", "1 Hz", "3 Hz"}, 1);
        b.AddNamed("Impedance Cycle", kKestBoolType, BoolRecord(false));
        b.AddNamed("Impedance Freq List", kKestComboBoxType, ListRecord({1000}, 1000));
        b.AddNamed("Impedance Current List", kListRecordType, ListRecord({1, 10, 100}, 10));
        {
            Record control = EmptyRecord(kKestImplantStatusType, 16 + 8 * 32);
            kest::StoreLe<std::uint16_t>(&control[8], 1); // waveform: sine
            kest::StoreLe<std::uint16_t>(&control[10], 0);
            kest::StoreLe<std::uint16_t>(&control[12], 0);
            b.AddNamed("Impedance Control", kKestImplantStatusType, std::move(control));
        }
        b.AddNamed("Impedance Measurements", kKestImplantStatusType,
                   EmptyRecord(kKestImplantStatusType, 20 + 8 * 32));
        if (fe.kind == FrontEndKind::Transceiver) {
            b.AddNamed("Implant Connection Status", kKestBoolType,
                       BoolRecord(config.implantConnected));
            b.AddNamed("Implant Search Trigger", kKestBoolType, BoolRecord(false));
            b.AddNamed("Implant Status", kKestImplantStatusType,
                       EmptyRecord(kKestImplantStatusType, 16 + 64));
            b.AddNamed("Transceiver Command", kKestTransceiverCommandType,
                       EmptyRecord(kKestTransceiverCommandType, 8 + 64));
            b.AddNamed("Implant Command Response", kKestImplantStatusType,
                       EmptyRecord(kKestImplantStatusType, 16 + 64));
        }
        b.EndBlock();

        if (stim) {
            b.BeginBlock(kStreamChannelBlock + 1, "Stim Control Descriptor Block");
            for (unsigned c = 0; c < n; ++c) {
                b.Add(WordArrayRecord(kListRecordType, 0));
            }
            b.EndBlock();
        }
        AddBoolArrayBlock(b, "Channel Ground Enable Descriptor Block", n, false);
        AddBoolArrayBlock(b, "Channel Reference Enable Descriptor Block", n, false);

        return b.Finish(HardwareModuleId(frontEnd), kFrontEndClass, FrontEndLabel(fe, frontEnd),
                        config.softwareVersion,
                        HardwareVersionText(FrontEndPartNumber(fe), 42 + frontEnd, 2, 1));
    });
}

ModuleModel BuildProcessingModule(const ModelConfig& config, unsigned frontEnd) {
    const FrontEndConfig& fe = config.frontEnds.at(frontEnd);
    const unsigned n = fe.channels;
    // Per-channel records point at the hardware module's physical channel records, which
    // start right after its block descriptors.
    const ModuleModel hardware = BuildHardwareModule(config, frontEnd);
    const std::uint16_t physFirst = hardware.blocks.at("Physical Channels").first;
    return BuildModule([&](ModuleBuilder& b) {
        const std::uint16_t ch = static_cast<std::uint16_t>(n);
        std::vector<StreamSpec> specs = {
            {"lfp", "LFP 1 kS/s", kKestContinuousData, 30, ch, 0.25f, fe.lfp},
            {"hi-res", "Hi-Res 2 kS/s", kKestFloatData, 15, ch, 1.0f, fe.hiRes},
            {"hifreq", "HiFreq 7.5 kS/s", kKestContinuousData, 4, ch, 0.25f, fe.hiFreq},
            {"emg", "EMG 2 kS/s", kKestContinuousData, 15, ch, 0.25f, fe.emg},
            {"spkfilt", "Spike Filtered 30 kS/s", kKestContinuousData, 1, ch, 0.25f, fe.spkFilt},
        };
        for (unsigned c = 0; c < n; ++c) {
            specs.push_back({"spk", "Spike " + std::to_string(c + 1), kKestSegmentData, 1, 1, 0.25f,
                             fe.spk, int(c)});
        }
        AddStreams(b, specs, physFirst);

        b.BeginBlock(kKestModuleScopeBlock, "Processing Properties");
        struct FilterSpec {
            const char* name;
            std::vector<std::string> items;
            std::vector<Record> sos;
            std::uint16_t selection;
        };
        std::vector<FilterSpec> filters = {
            {"LFP Filter",
             {"None", "0.3-250 Hz", "1-250 Hz", "Custom"},
             {SosFilterRecord("None", 0, 0, 0, 0), SosFilterRecord("0.3-250 Hz", 0, 0.3f, 250, 2),
              SosFilterRecord("1-250 Hz", 0, 1, 250, 2)},
             1},
            {"Spike Filter",
             {"None", "250 Hz-5 kHz", "300 Hz-7.5 kHz", "Custom"},
             {SosFilterRecord("None", 0, 0, 0, 0), SosFilterRecord("250 Hz-5 kHz", 0, 250, 5000, 2),
              SosFilterRecord("300 Hz-7.5 kHz", 0, 300, 7500, 3)},
             1},
            {"Hi-Res Filter",
             {"None", "0.3-500 Hz", "Custom"},
             {SosFilterRecord("None", 0, 0, 0, 0), SosFilterRecord("0.3-500 Hz", 0, 0.3f, 500, 2)},
             1},
            {"HiFreq Filter",
             {"None", "1-3 kHz", "Custom"},
             {SosFilterRecord("None", 0, 0, 0, 0), SosFilterRecord("1-3 kHz", 0, 1, 3000, 2)},
             0},
            {"EMG Filter",
             {"None", "10-500 Hz", "Custom"},
             {SosFilterRecord("None", 0, 0, 0, 0), SosFilterRecord("10-500 Hz", 0, 10, 500, 2)},
             1},
        };
        for (FilterSpec& filter : filters) {
            // The last item is the custom slot, sent with room for 8 stages so that a
            // client keeps the whole of a later custom filter.
            Record custom = SosFilterRecord("Custom", 0, 0, 0, 8);
            View<KestSosFilterDesc>(custom).stageCount = 0;
            filter.sos.push_back(std::move(custom));
            AddComboWithTargets(b, filter.name, filter.items, filter.sos, filter.selection);
        }
        b.EndBlock();

        b.BeginBlock(kStreamChannelBlock + 1, "Threshold Values Descriptor Block");
        for (unsigned c = 0; c < n; ++c) {
            Record threshold = EmptyRecord(kThresholdRecordType, 28);
            kest::StoreLe(&threshold[4], -200.0f);
            kest::StoreLe(&threshold[20], -200.0f);
            kest::StoreLe(&threshold[24], 6554.0f);
            b.Add(std::move(threshold));
        }
        b.EndBlock();

        return b.Finish(static_cast<std::uint8_t>(HardwareModuleId(frontEnd) + 1), kProcessingClass,
                        FrontEndLabel(fe, frontEnd) + " processing", config.softwareVersion,
                        HardwareVersionText(FrontEndPartNumber(fe), 42 + frontEnd, 2, 1));
    });
}

namespace {

Record InputConnectionRecord(const std::string& name) {
    Record record = ComboItemRecord(name, 0); // source module 0: disabled
    return record;
}

} // namespace

ModuleModel BuildAnalogModule(const ModelConfig& config) {
    return BuildModule([&](ModuleBuilder& b) {
        b.BeginBlock(kKestPhysicalChannelBlock, "Physical Channels");
        std::uint16_t physFirst = b.NextIndex();
        for (unsigned c = 0; c < kAnalogInputs + kAnalogOutputs; ++c) {
            KestPhysicalChannelDesc record{};
            record.head = {1, kKestPhysicalChannelBlock, 0, 0};
            record.port = 4;
            record.channel = static_cast<std::uint16_t>(c);
            record.hwStatusScale = 1.0f;
            std::string name = c < kAnalogInputs
                                   ? "Analog In " + std::to_string(c + 1)
                                   : "Analog Out " + std::to_string(c - kAnalogInputs + 1);
            CopyText(record.name, sizeof record.name, name);
            b.Add(RecordOf(record));
        }
        b.EndBlock();
        const std::uint16_t in = kAnalogInputs;
        AddStreams(
            b,
            {{"30ksps", "Analog 30 kS/s", kKestContinuousData, 1, in, 0.15f, config.analog30k},
             {"1ksps", "Analog 1 kS/s", kKestContinuousData, 30, in, 0.15f, config.analog1k}},
            physFirst);
        b.BeginBlock(kKestInputConnectionBlock, "Input Connections");
        for (unsigned c = 0; c < kAnalogOutputs; ++c) {
            b.Add(InputConnectionRecord("Analog Out " + std::to_string(c + 1)));
        }
        b.EndBlock();
        return b.Finish(kAnalogModule, kAnalogClass, "Analog I/O", config.softwareVersion,
                        HardwareVersionText("AN1600", 7, 1, 0));
    });
}

ModuleModel BuildDigitalModule(const ModelConfig& config) {
    return BuildModule([&](ModuleBuilder& b) {
        AddStreams(b, {{"digin", "Digital Input", kKestDigitalEventData, 1, 1, 1.0f, true}}, 0);
        b.BeginBlock(kKestInputConnectionBlock, "Input Connections");
        for (unsigned c = 0; c < kDigitalOutputs; ++c) {
            b.Add(InputConnectionRecord("SMA Out " + std::to_string(c + 1)));
        }
        b.EndBlock();
        b.BeginBlock(kKestModuleScopeBlock, "Digital I/O Properties");
        b.AddNamed("Capture Any Parallel Bit Change", kKestBoolType, BoolRecord(false));
        // Reserved slots keep the output command at its fixed index.
        while (b.NextIndex() + 1 < kDigitalOutputIndex) {
            b.Add(IntRecord(0));
        }
        b.AddNamed("Digital Output", kKestIntegerType, RangedIntRecord(0, 0, -1));
        b.EndBlock();
        ModuleModel module =
            b.Finish(kDigitalModule, kDigitalClass, "Digital I/O", config.softwareVersion,
                     HardwareVersionText("DG0500", 3, 1, 0));
        if (!b.IsProbe() && module.named.at("Digital Output") != kDigitalOutputIndex) {
            throw std::logic_error("paxsim: digital output not at its fixed index");
        }
        return module;
    });
}

ModuleModel BuildProcessorModule(const ModelConfig& config, unsigned moduleCount) {
    return BuildModule([&](ModuleBuilder& b) {
        b.BeginBlock(kKestProcessorBlock, "Processor");
        KestProcessorDesc desc{};
        desc.head = {1, kKestProcessorDescType, 0, 0};
        desc.moduleCount = static_cast<std::uint16_t>(moduleCount);
        CopyText(desc.serial, sizeof desc.serial, config.serial);
        b.Add(RecordOf(desc));
        b.EndBlock();

        b.BeginBlock(kKestModuleScopeBlock, "Module Properties");
        b.AddNamed("Stim Enable", kKestBoolType, BoolRecord(false));
        b.AddNamed("Stim Trigger", kKestBoolType, BoolRecord(false));
        for (const char* button : {"Stop Stim", "Event", "F1", "F2"}) {
            b.AddNamed(std::string(button) + " Button", kKestBoolType, BoolRecord(false));
            b.AddNamed(std::string(button) + " Button Monitor", kKestBoolType, BoolRecord(false));
        }
        for (const char* led : {"Event", "F1", "F2"}) {
            b.AddNamed(std::string(led) + " LED", kKestBoolType, BoolRecord(false));
            b.AddNamed(std::string(led) + " LED Monitor", kKestBoolType, BoolRecord(false));
        }
        for (const char* port : {"A", "B", "C", "D"}) {
            b.AddNamed(std::string("Port ") + port + " LED", kKestIntegerType, IntRecord(0));
            b.AddNamed(std::string("Port ") + port + " LED Monitor", kKestBoolType,
                       BoolRecord(false));
        }
        b.AddNamed("Internal Battery", kKestIntegerType, IntRecord(87));
        b.AddNamed("External Battery", kKestIntegerType, IntRecord(64));
        b.AddNamed("External Battery Detected", kKestBoolType, BoolRecord(true));
        b.AddNamed("Wall Sensor", kKestSensorType, SensorRecord(0.42f, 12.0f, 5.04f));
        b.AddNamed("VDD Sensor", kKestSensorType, SensorRecord(0.8f, 3.3f, 2.64f));
        b.AddNamed("Audio Tone", kKestAudioToneType, AudioToneRecord(440, 100));
        b.AddNamed("Stim Latency", kKestIntegerType, RangedIntRecord(0, 0, 1000));
        b.AddNamed("Restart Paxexec Trigger", kKestBoolType, BoolRecord(false));
        {
            KestRecordingTrialDescriptor trial{};
            trial.head = {1, kKestTrialDescType, 0, 0};
            trial.SetStatus(kKestTrialStopped);
            b.AddNamed("Recording Trial Descriptor", kKestTrialDescType, RecordOf(trial));
        }
        b.EndBlock();

        b.BeginBlock(kKestSignalSelectionBlock, "Signal Selection");
        for (unsigned f = 0; f < config.frontEnds.size(); ++f) {
            BmFeSignalSelectionDesc sel{};
            sel.head = {1, kKestSignalSelectionDescType, 0, 0};
            sel.port = static_cast<std::uint8_t>(f / 4);
            sel.slot = static_cast<std::uint8_t>(f % 4);
            sel.valid = 1;
            unsigned hw = HardwareModuleId(f);
            sel.entries[0].streamKey = hw << 16 | unsigned(kRawStream) << 8;
            sel.entries[1].streamKey = (hw + 1) << 16 | unsigned(kLfpStream) << 8;
            sel.entries[2].streamKey = (hw + 1) << 16 | unsigned(kFirstSpkStream) << 8;
            b.Add(RecordOf(sel));
        }
        b.EndBlock();

        return b.Finish(kProcessorModule, kProcessorClass, "PAX Processor", config.softwareVersion,
                        HardwareVersionText("PX0100", 7, 1, 0));
    });
}

std::vector<ModuleModel> BuildModules(const ModelConfig& config) {
    config.Validate();
    std::vector<ModuleModel> modules;
    unsigned count = 2 * unsigned(config.frontEnds.size()) + 2;
    modules.push_back(BuildProcessorModule(config, count));
    for (unsigned f = 0; f < config.frontEnds.size(); ++f) {
        modules.push_back(BuildHardwareModule(config, f));
        modules.push_back(BuildProcessingModule(config, f));
    }
    modules.push_back(BuildAnalogModule(config));
    modules.push_back(BuildDigitalModule(config));
    return modules;
}

} // namespace paxsim
