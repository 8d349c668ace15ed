#include "emulator/model/ProcessorModel.h"

#include "emulator/model/ModelFactory.h"
#include "emulator/model/RecordValues.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace paxsim {
namespace {

// Input connection records share the combo box's type byte but are not selections: they
// name the source of an output (module at 6, stream at 7, channel at 10).
bool IsInputConnection(const ModuleModel& m, std::uint16_t index) {
    auto it = m.blocks.find("Input Connections");
    return it != m.blocks.end() && index >= it->second.first &&
           index < it->second.first + it->second.count;
}

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

void ProcessorModel::Poll(std::uint32_t now, Outbox& out) {
    while (!delayed_.empty() && Due(now, delayed_.front().due)) {
        out.Append(delayed_.front().packet.data(), delayed_.front().packet.size());
        delayed_.pop_front();
    }
    PlayStim(now, out);
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
