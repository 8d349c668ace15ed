#include "emulator/model/ProcessorModel.h"

#include "emulator/model/ModelFactory.h"
#include "emulator/model/TrialStatus.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace paxsim {
namespace {

bool Due(std::uint32_t now, std::uint32_t due) {
    return static_cast<std::int32_t>(now - due) >= 0;
}

bool BoolValue(const Record& record) {
    return record.size() > 4 && record[4] != 0;
}

// Input connection records share the combo box's type byte but are not selections: they
// name the source of an output (module at 6, stream at 7, channel at 10).
bool IsInputConnection(const ModuleModel& m, std::uint16_t index) {
    auto it = m.blocks.find("Input Connections");
    return it != m.blocks.end() && index >= it->second.first &&
           index < it->second.first + it->second.count;
}

constexpr std::uint32_t kImpedanceUnderflow = 0x7F7F0002;
constexpr std::uint32_t kImpedanceOverflow = 0x7F7F0001;

} // namespace

ProcessorModel::ProcessorModel(ModelConfig config)
    : config_(std::move(config)), initialConfig_(config_), modules_(BuildModules(config_)) {}

ModuleModel* ProcessorModel::Find(std::uint8_t id) {
    for (ModuleModel& module : modules_) {
        if (module.id == id) {
            return &module;
        }
    }
    return nullptr;
}

const ModuleModel* ProcessorModel::Find(std::uint8_t id) const {
    return const_cast<ProcessorModel*>(this)->Find(id);
}

int ProcessorModel::FrontEndOf(std::uint8_t module) {
    return module >= 1 && module <= 32 ? (module - 1) / 2 : -1;
}

float ProcessorModel::ImpedanceOhms(unsigned electrode) {
    return 50000.0f + 1000.0f * float(electrode % 32) + 100.0f * float(electrode / 32);
}

bool ProcessorModel::GlobalStimEnabled() const {
    const ModuleModel* processor = Find(kProcessorModule);
    return processor && BoolValue(processor->records[processor->Index("Stim Enable")]);
}

void ProcessorModel::HandlePacket(const std::uint8_t* packet, std::size_t bytes, std::uint32_t now,
                                  Outbox& out) {
    if (bytes < kKestConfigHeaderSize || std::size_t(packet[0]) * 4 != bytes ||
        packet[3] != kKestConfigStream) {
        ++counters_.ignored;
        return;
    }
    const auto* config = reinterpret_cast<const KestConfigPacket*>(packet);
    std::uint8_t target = config->targetProcId;
    if (target != kKestProcessorId && target != kKestAllProcessors) {
        ++counters_.ignored;
        return;
    }
    if (config->RecordLength() == 0) {
        ++counters_.requests;
        AnswerRequest(target, config->moduleId, config->propIndex, now, out);
    } else {
        ++counters_.sets;
        ApplySet(config->moduleId, config->propIndex, config->Record(), config->RecordLength(), now,
                 out);
    }
}

void ProcessorModel::Send(std::uint8_t module, std::uint16_t index, std::uint32_t now,
                          Outbox& out) {
    const ModuleModel* m = Find(module);
    out.AppendConfig(module, index, m->records[index], now);
}

void ProcessorModel::AnswerRequest(std::uint8_t target, std::uint8_t module, std::uint16_t index,
                                   std::uint32_t now, Outbox& out) {
    // "Send everything" is answered like the request for every module descriptor: the
    // client asks for each module's properties on its own.
    if (target == kKestAllProcessors && module == 0 && index == 0) {
        module = kKestAllModules;
    }
    if (module == kKestAllModules) {
        for (const ModuleModel& m : modules_) {
            if (index < m.records.size()) {
                Send(m.id, index, now, out);
            }
        }
        return;
    }
    ModuleModel* m = Find(module);
    if (!m) {
        ++counters_.ignored;
        return;
    }
    if (index == kKestAllPropsIndex) {
        for (std::size_t i = 0; i < m->records.size(); ++i) {
            Send(module, static_cast<std::uint16_t>(i), now, out);
        }
    } else if (index < m->records.size()) {
        Send(module, index, now, out);
    } else {
        ++counters_.ignored;
    }
}

void ProcessorModel::ApplySet(std::uint8_t module, std::uint16_t index, const std::uint8_t* record,
                              std::size_t length, std::uint32_t now, Outbox& out) {
    ModuleModel* m = Find(module);
    if (!m || index == 0 || index >= m->records.size()) {
        // The module descriptor cannot be written; unknown addresses are ignored.
        ++counters_.ignored;
        return;
    }
    Record& stored = m->records[index];
    if (Refuses(*m, index, record, length)) {
        // The stored record goes back unchanged, so a confirmed write sees it was not taken.
        ++counters_.refused;
        if (echoMode_ != EchoMode::Drop) {
            Send(module, index, now, out);
        }
        return;
    }
    Record incoming(record, record + length);
    if (incoming.size() >= 2 && incoming[1] == 0 && stored.size() >= 2) {
        // Sets that carry a zero head (stimulation sequences) keep the property's own.
        incoming[0] = stored[0];
        incoming[1] = stored[1];
    }
    if (stored.size() >= sizeof(KestComboBox) && stored[1] == kKestComboBoxType &&
        incoming.size() >= 12 && !IsInputConnection(*m, index)) {
        // A combo box keeps its own items whatever the set says about them.
        std::memcpy(&incoming[8], &stored[8], 4);
    }
    stored = std::move(incoming);
    ++version_;
    Outbox held;
    const bool hold = HoldsTransceiverAnswer(*m, index);
    Outbox& answers = hold ? held : out;
    if (Act(*m, index, now, answers)) {
        Echo(module, index, now, answers);
    }
    if (hold) {
        ReleaseTransceiverAnswer(held, now);
    }
}

bool ProcessorModel::Refuses(const ModuleModel& m, std::uint16_t index, const std::uint8_t* record,
                             std::size_t length) const {
    const Record& stored = m.records[index];
    const std::uint8_t type = stored.size() >= 2 ? stored[1] : 0;
    // Descriptors and channel records describe the processor; they cannot be written.
    switch (type) {
    case kKestBlockDescType:
    case kKestPropertyDescType:
    case kKestModuleDescType:
    case kKestProcessorDescType:
    case kKestOutputStreamDescType:
        return true;
    default:
        break;
    }
    auto inBlock = [&](const char* name) {
        auto it = m.blocks.find(name);
        return it != m.blocks.end() && index >= it->second.first &&
               index < it->second.first + it->second.count;
    };
    if (inBlock("Physical Channels") || (inBlock("Stream Channels") && type != kKestBoolType)) {
        return true;
    }
    // A combo box takes only a selection among its items.
    if (type == kKestComboBoxType && stored.size() >= sizeof(KestComboBox) && length >= 6 &&
        !IsInputConnection(m, index)) {
        const KestComboBox& box = View<KestComboBox>(stored);
        std::uint16_t selection = kest::LoadLe<std::uint16_t>(record + 4);
        return selection >= box.itemCount;
    }
    return false;
}

void ProcessorModel::Echo(std::uint8_t module, std::uint16_t index, std::uint32_t now,
                          Outbox& out) {
    ModuleModel* m = Find(module);
    Record& stored = m->records[index];
    if (echoMode_ == EchoMode::Drop) {
        return;
    }
    if (echoMode_ == EchoMode::Alter && stored.size() > 4) {
        ++version_;
        if (stored[1] == kKestComboBoxType && stored.size() >= sizeof(KestComboBox)) {
            KestComboBox& box = View<KestComboBox>(stored);
            box.selection = static_cast<std::uint16_t>(
                box.itemCount > 1 ? (box.selection + 1) % box.itemCount : box.selection ^ 1);
        } else {
            stored[4] ^= 1;
        }
    }
    ++counters_.echoes;
    if (echoDelay_ == 0) {
        Send(module, index, now, out);
        return;
    }
    Outbox later;
    later.AppendConfig(module, index, stored, now + echoDelay_);
    delayed_.push_back({now + echoDelay_, later.Bytes()});
}

bool ProcessorModel::NameIs(const ModuleModel& module, const char* name,
                            std::uint16_t index) const {
    auto it = module.named.find(name);
    return it != module.named.end() && it->second == index;
}

bool ProcessorModel::Update(std::uint8_t module, std::uint16_t index, const Record& record,
                            std::uint32_t now, Outbox& out) {
    ModuleModel* m = Find(module);
    if (!m || index == 0 || index >= m->records.size()) {
        return false;
    }
    m->records[index] = record;
    ++version_;
    Send(module, index, now, out);
    return true;
}

bool ProcessorModel::Act(ModuleModel& m, std::uint16_t index, std::uint32_t now, Outbox& out) {
    Record& stored = m.records[index];
    if (m.id == kProcessorModule) {
        if (NameIs(m, "Restart Paxexec Trigger", index) && BoolValue(stored)) {
            restartRequested_ = true;
        } else if (NameIs(m, "Stim Trigger", index) && BoolValue(stored)) {
            TriggerStim(-1, now);
        } else if (NameIs(m, "Stim Enable", index) && !BoolValue(stored)) {
            stimPlays_.clear();
        } else if (NameIs(m, "Recording Trial Descriptor", index) &&
                   stored.size() >= kKestTrialDescSize) {
            auto& trial = View<KestRecordingTrialDescriptor>(stored);
            trial.SetStatus(SettleTrialStatus(trial.Status()));
        }
        return true;
    }
    if (m.id == kDigitalModule) {
        if (index == kDigitalOutputIndex && stored.size() >= 8) {
            std::uint32_t word = kest::LoadLe<std::uint32_t>(&stored[4]);
            digitalOutput_ = word;
        }
        return true;
    }
    if (FrontEndOf(m.id) < 0 || m.id % 2 == 0) {
        return true;
    }
    // Hardware module of a front end.
    auto stimBlock = m.blocks.find("Stim Control Descriptor Block");
    if (stimBlock != m.blocks.end() && index >= stimBlock->second.first &&
        index < stimBlock->second.first + stimBlock->second.count) {
        LoadStimSequence(m, index - stimBlock->second.first, now);
        return true;
    }
    if (NameIs(m, "Stim Trigger", index) && BoolValue(stored)) {
        TriggerStim(m.id, now);
    } else if (NameIs(m, "Stim Enable", index) && !BoolValue(stored)) {
        stimPlays_.erase(std::remove_if(stimPlays_.begin(), stimPlays_.end(),
                                        [&](const StimPlay& p) { return p.module == m.id; }),
                         stimPlays_.end());
    } else if (NameIs(m, "Impedance Cycle", index) && BoolValue(stored)) {
        Echo(m.id, index, now, out);
        MeasureImpedance(m, now, out);
        return false;
    } else if (NameIs(m, "Implant Connection Status", index)) {
        // The record reports the link's state whatever the client wrote.
        stored.resize(std::max<std::size_t>(stored.size(), 8));
        stored[4] = config_.implantConnected ? 1 : 0;
    } else if (NameIs(m, "Implant Search Trigger", index) && BoolValue(stored)) {
        config_.implantConnected = true;
        Record& connection = m.Value("Implant Connection Status");
        connection[4] = 1;
        Echo(m.id, index, now, out);
        Send(m.id, m.Index("Implant Connection Status"), now, out);
        return false;
    } else if (NameIs(m, "Implant Status", index) || NameIs(m, "Implant Command Response", index)) {
        // A read request: answer with 32 words of data.
        Record answer = EmptyRecord(kKestImplantStatusType, 16 + 64);
        if (stored.size() >= 14) {
            std::memcpy(&answer[8], &stored[8], 6);
        }
        kest::StoreLe<std::uint16_t>(&answer[4], 32);
        kest::StoreLe<std::uint16_t>(&answer[6], 32);
        bool status = NameIs(m, "Implant Status", index);
        const Record& command = m.Value("Transceiver Command");
        for (unsigned w = 0; w < 32; ++w) {
            std::uint16_t word;
            if (status) {
                word = w == 0 ? std::uint16_t(config_.implantConnected ? 1 : 0)
                              : std::uint16_t(0x5100 + w);
            } else {
                // The response repeats the last command word and its data.
                std::size_t at = w == 0 ? 4 : 8 + 2 * (w - 1);
                word = command.size() >= at + 2 ? kest::LoadLe<std::uint16_t>(&command[at]) : 0;
            }
            kest::StoreLe(&answer[16 + 2 * w], word);
        }
        stored = std::move(answer);
        Send(m.id, index, now, out);
        return false;
    } else if (m.Has("Stim Calibration")) {
        std::uint16_t calib = m.Index("Stim Calibration");
        if (index == calib && stored.size() >= 20) {
            std::uint32_t command = kest::LoadLe<std::uint32_t>(&stored[16]);
            if (command == 1) {
                // A calibration run: a fresh table and a status word stamped with the time.
                Echo(m.id, index, now, out);
                for (std::uint16_t k = 1; k <= 5; ++k) {
                    Record& table = m.records[calib + k];
                    table = WordArrayRecord(kListRecordType, 130);
                    kest::StoreLe<std::uint32_t>(&table[16], now | 0x10);
                    for (unsigned i = 0; i < 128; ++i) {
                        kest::StoreLe<std::uint16_t>(&table[20 + 2 * i],
                                                     std::uint16_t(1000 + 128 * (k - 1) + i));
                    }
                    Send(m.id, std::uint16_t(calib + k), now, out);
                }
                kest::StoreLe<std::uint32_t>(&stored[16], now | 0x10);
                Send(m.id, calib, now, out);
                return false;
            }
        } else if (index == calib + 5 && stored.size() >= 20) {
            // The last block of a loaded table: its heading word becomes the status.
            Echo(m.id, index, now, out);
            Record& status = m.records[calib];
            status.resize(std::max<std::size_t>(status.size(), 20));
            std::memcpy(&status[16], &stored[16], 4);
            Send(m.id, calib, now, out);
            return false;
        }
    }
    return true;
}

void ProcessorModel::MeasureImpedance(ModuleModel& m, std::uint32_t now, Outbox& out) {
    const Record& control = m.Value("Impedance Control");
    unsigned count = control.size() >= 8 ? kest::LoadLe<std::uint16_t>(&control[6]) / 4u : 0u;
    count = std::min(count, 32u);
    Record result = EmptyRecord(kKestImplantStatusType, 20 + 8 * 32);
    kest::StoreLe<std::uint16_t>(&result[6], static_cast<std::uint16_t>(2 * count));
    unsigned frontEnd = unsigned(FrontEndOf(m.id));
    for (unsigned k = 0; k < count; ++k) {
        std::size_t at = 16 + 8 * std::size_t(k);
        unsigned channel =
            control.size() >= at + 2 ? kest::LoadLe<std::uint16_t>(&control[at]) : 0u;
        unsigned electrode = 32 * frontEnd + channel % 32;
        std::uint32_t value;
        if (config_.impedanceUnderflow.count(electrode)) {
            value = kImpedanceUnderflow;
        } else if (config_.impedanceOverflow.count(electrode)) {
            value = kImpedanceOverflow;
        } else {
            float ohms = ImpedanceOhms(electrode);
            std::memcpy(&value, &ohms, 4);
        }
        kest::StoreLe(&result[20 + 8 * std::size_t(k)], value);
    }
    m.Value("Impedance Measurements") = std::move(result);
    if (config_.impedanceSilent) {
        return; // a measurement that never completes
    }
    if (config_.impedanceDelayMs > 0) {
        const std::uint32_t due = now + config_.impedanceDelayMs * 30;
        Outbox later;
        later.AppendConfig(m.id, m.Index("Impedance Measurements"),
                           m.Value("Impedance Measurements"), due);
        // Kept in order of due time, ahead of anything due later.
        auto at = std::find_if(delayed_.begin(), delayed_.end(),
                               [&](const Delayed& d) { return !Due(due, d.due); });
        delayed_.insert(at, {due, later.Bytes()});
        return;
    }
    Send(m.id, m.Index("Impedance Measurements"), now, out);
}

void ProcessorModel::LoadStimSequence(ModuleModel& m, unsigned channel, std::uint32_t now) {
    const Record& record = m.records[m.blocks.at("Stim Control Descriptor Block").first + channel];
    if (record.size() < 20) {
        return;
    }
    unsigned words16 = kest::LoadLe<std::uint16_t>(&record[6]);
    unsigned words = std::min<std::size_t>(words16 / 2, (record.size() - 16) / 4);
    if (words == 0) {
        return;
    }
    std::uint32_t header = kest::LoadLe<std::uint32_t>(&record[16]);
    unsigned action = header >> 28;
    auto same = [&](const StimPlay& p) { return p.module == m.id && p.channel == channel; };
    if (words == 1) {
        // A clear: now (0), after the current cycle (1) or after all cycles (2).
        for (StimPlay& play : stimPlays_) {
            if (same(play) && action == 1) {
                play.repeats = play.played;
            }
        }
        if (action == 0 || action == 1) {
            stimPlays_.erase(std::remove_if(stimPlays_.begin(), stimPlays_.end(),
                                            [&](const StimPlay& p) {
                                                return same(p) &&
                                                       (action == 0 || p.played >= p.repeats);
                                            }),
                             stimPlays_.end());
        }
        return;
    }
    if (!GlobalStimEnabled() || !BoolValue(m.Value("Stim Enable"))) {
        return; // a disabled stimulator ignores sequences
    }
    StimPlay play;
    play.module = m.id;
    play.channel = channel;
    for (unsigned w = 1; w < words; ++w) {
        play.words.push_back(kest::LoadLe<std::uint32_t>(&record[16 + 4 * w]));
    }
    std::uint32_t length = 0;
    for (std::uint32_t word : play.words) {
        length += word >> 16;
    }
    play.period = (header >> 12) & 0xFFFF;
    if (play.period == 0) {
        play.period = std::max<std::uint32_t>(length, 1);
    }
    play.repeats = std::max(1u, header & 0xFFFu);
    play.start = now;
    play.waitTrigger = action == 3;
    stimPlays_.erase(std::remove_if(stimPlays_.begin(), stimPlays_.end(), same), stimPlays_.end());
    stimPlays_.push_back(std::move(play));
}

void ProcessorModel::TriggerStim(int onlyModule, std::uint32_t now) {
    for (StimPlay& play : stimPlays_) {
        if (play.waitTrigger && (onlyModule < 0 || play.module == onlyModule)) {
            play.waitTrigger = false;
            play.start = now;
            play.played = 0;
        }
    }
}

void ProcessorModel::EmitStimSegment(const StimPlay& play, std::uint32_t time, Outbox& out) {
    ModuleModel* m = Find(play.module);
    const StreamInfo* stream = nullptr;
    for (const StreamInfo& s : m->streams) {
        if (s.name == "stim" && s.channel == int(play.channel)) {
            stream = &s;
        }
    }
    if (!stream || !m->ChannelEnabled(*stream, 0)) {
        return;
    }
    int step = 1;
    if (m->Has("Stim Resolution")) {
        const Record& box = m->Value("Stim Resolution");
        if (box.size() >= sizeof(KestComboBox)) {
            const KestComboBox& combo = View<KestComboBox>(box);
            std::size_t item = std::size_t(combo.firstItem) + combo.selection;
            if (combo.selection < combo.itemCount && item < m->records.size() &&
                m->records[item].size() >= sizeof(KestComboBoxItem)) {
                const KestComboBoxItem& text = View<KestComboBoxItem>(m->records[item]);
                std::string digits(text.text, KestTextLength(text.text, sizeof text.text));
                step = std::atoi(digits.c_str());
            }
        }
    }
    KestSegmentDataPacketFixed packet{};
    packet.header = {30, kKestProcessorId, play.module, stream->id, time};
    packet.dataKind = kKestSegmentData;
    std::uint16_t& sequence = segmentSequence_[std::uint32_t(play.module) << 8 | stream->id];
    packet.sequence = sequence++;
    packet.unit = 0;
    std::size_t sample = 0;
    for (std::uint32_t word : play.words) {
        unsigned length = word >> 16;
        bool enable = (word >> 13) & 1;
        bool positive = (word >> 7) & 1;
        int amplitude = enable ? int(word & 0x7F) * step : 0;
        for (unsigned t = 0; t < length && sample < kKestSegmentWaveformSamples; ++t) {
            packet.waveform[sample++] =
                static_cast<std::int16_t>(positive ? amplitude : -amplitude);
        }
    }
    out.Append(&packet, sizeof packet);
    ++counters_.stimSegments;
}

void ProcessorModel::Poll(std::uint32_t now, Outbox& out) {
    while (!delayed_.empty() && Due(now, delayed_.front().due)) {
        out.Append(delayed_.front().packet.data(), delayed_.front().packet.size());
        delayed_.pop_front();
    }
    if (stimPlays_.empty()) {
        return;
    }
    if (!GlobalStimEnabled()) {
        stimPlays_.clear();
        return;
    }
    for (StimPlay& play : stimPlays_) {
        if (play.waitTrigger) {
            continue;
        }
        while (play.played < play.repeats && Due(now, play.start + play.played * play.period)) {
            EmitStimSegment(play, play.start + play.played * play.period, out);
            ++play.played;
        }
    }
    stimPlays_.erase(
        std::remove_if(stimPlays_.begin(), stimPlays_.end(),
                       [](const StimPlay& p) { return !p.waitTrigger && p.played >= p.repeats; }),
        stimPlays_.end());
}

bool ProcessorModel::PressButton(const std::string& button, std::uint32_t now, Outbox& out) {
    std::string name;
    if (button == "stop" || button == "stop-stim") {
        name = "Stop Stim Button";
    } else if (button == "event") {
        name = "Event Button";
    } else if (button == "f1") {
        name = "F1 Button";
    } else if (button == "f2") {
        name = "F2 Button";
    } else {
        return false;
    }
    ModuleModel* processor = Find(kProcessorModule);
    std::uint16_t index = processor->Index(name);
    Update(kProcessorModule, index, BoolRecord(true), now, out);
    Update(kProcessorModule, index, BoolRecord(false), now, out);
    return true;
}

void ProcessorModel::AppendErrorMessage(std::uint32_t level, std::uint32_t code,
                                        const std::string& text, std::uint32_t now, Outbox& out) {
    std::size_t length = std::min(text.size(), kKestErrorTextMax);
    Record record = EmptyRecord(0, kKestErrorMessageHeadSize + length);
    record[1] = 0;
    kest::StoreLe(&record[4], level);
    kest::StoreLe(&record[8], code);
    kest::StoreLe(&record[18], static_cast<std::uint16_t>(length));
    std::memcpy(&record[20], text.data(), length);
    out.AppendConfig(kProcessorModule, kKestErrorPropIndex, record, now);
}

std::uint8_t ProcessorModel::AddFrontEnd(FrontEndKind kind) {
    if (config_.frontEnds.size() >= 16) {
        return 0;
    }
    FrontEndConfig fe;
    fe.kind = kind;
    config_.frontEnds.push_back(fe);
    unsigned f = unsigned(config_.frontEnds.size() - 1);
    ModuleModel hardware = BuildHardwareModule(config_, f);
    ModuleModel processing = BuildProcessingModule(config_, f);
    auto at = std::find_if(modules_.begin(), modules_.end(),
                           [](const ModuleModel& m) { return m.id >= kAnalogModule; });
    at = modules_.insert(at, std::move(processing));
    modules_.insert(at, std::move(hardware));
    ++version_;
    ModuleModel* processor = Find(kProcessorModule);
    Record& desc = processor->records[processor->blocks.at("Processor").first];
    View<KestProcessorDesc>(desc).moduleCount = static_cast<std::uint16_t>(modules_.size() - 1);
    return HardwareModuleId(f);
}

bool ProcessorModel::TakeRestartRequest() {
    bool requested = restartRequested_;
    restartRequested_ = false;
    return requested;
}

void ProcessorModel::Reset() {
    config_ = initialConfig_;
    modules_ = BuildModules(config_);
    ++version_;
    delayed_.clear();
    stimPlays_.clear();
    segmentSequence_.clear();
    digitalOutput_ = 0;
    restartRequested_ = false;
}

} // namespace paxsim
