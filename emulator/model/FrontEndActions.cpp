// What a stored set does on a front end's hardware module: stimulation sequences, triggers and
// enables, impedance cycles, the implant transceiver and stimulation calibration.
#include "emulator/model/ProcessorModel.h"
#include "emulator/model/RecordValues.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace paxsim {

bool ProcessorModel::ActOnFrontEnd(ModuleModel& m, std::uint16_t index, std::uint32_t now,
                                   Outbox& out) {
    auto stimBlock = m.blocks.find("Stim Control Descriptor Block");
    if (stimBlock != m.blocks.end() && index >= stimBlock->second.first &&
        index < stimBlock->second.first + stimBlock->second.count) {
        LoadStimSequence(m, index - stimBlock->second.first, now);
        return true;
    }
    static const NamedAction kActions[] = {
        {"Stim Trigger", &ProcessorModel::OnStimTrigger},
        {"Stim Enable", &ProcessorModel::OnStimEnable},
        {"Impedance Cycle", &ProcessorModel::OnImpedanceCycle},
        {"Implant Connection Status", &ProcessorModel::OnImplantConnectionStatus},
        {"Implant Search Trigger", &ProcessorModel::OnImplantSearchTrigger},
        {"Implant Status", &ProcessorModel::OnImplantRead},
        {"Implant Command Response", &ProcessorModel::OnImplantRead},
    };
    if (Action act = FindAction(kActions, std::size(kActions), m, index)) {
        return (this->*act)(m, index, now, out);
    }
    // The calibration status word and its table blocks share one name.
    if (m.Has("Stim Calibration")) {
        return OnStimCalibration(m, index, now, out);
    }
    return true;
}

bool ProcessorModel::OnStimTrigger(ModuleModel& m, std::uint16_t index, std::uint32_t now,
                                   Outbox&) {
    if (BoolValue(m.records[index])) {
        TriggerStim(m.id, now);
    }
    return true;
}

bool ProcessorModel::OnStimEnable(ModuleModel& m, std::uint16_t index, std::uint32_t, Outbox&) {
    if (!BoolValue(m.records[index])) {
        stimPlays_.erase(std::remove_if(stimPlays_.begin(), stimPlays_.end(),
                                        [&](const StimPlay& p) { return p.module == m.id; }),
                         stimPlays_.end());
    }
    return true;
}

bool ProcessorModel::OnImpedanceCycle(ModuleModel& m, std::uint16_t index, std::uint32_t now,
                                      Outbox& out) {
    if (!BoolValue(m.records[index])) {
        return true;
    }
    Echo(m.id, index, now, out);
    MeasureImpedance(m, now, out);
    return false;
}

bool ProcessorModel::OnImplantConnectionStatus(ModuleModel& m, std::uint16_t index, std::uint32_t,
                                               Outbox&) {
    // The record reports the link's state whatever the client wrote.
    Record& stored = m.records[index];
    stored.resize(std::max<std::size_t>(stored.size(), 8));
    stored[4] = config_.implantConnected ? 1 : 0;
    return true;
}

bool ProcessorModel::OnImplantSearchTrigger(ModuleModel& m, std::uint16_t index, std::uint32_t now,
                                            Outbox& out) {
    if (!BoolValue(m.records[index])) {
        return true;
    }
    config_.implantConnected = true;
    Record& connection = m.Value("Implant Connection Status");
    connection[4] = 1;
    Echo(m.id, index, now, out);
    Send(m.id, m.Index("Implant Connection Status"), now, out);
    return false;
}

bool ProcessorModel::OnImplantRead(ModuleModel& m, std::uint16_t index, std::uint32_t now,
                                   Outbox& out) {
    // A read request: answer with 32 words of data.
    Record& stored = m.records[index];
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
}

bool ProcessorModel::OnStimCalibration(ModuleModel& m, std::uint16_t index, std::uint32_t now,
                                       Outbox& out) {
    Record& stored = m.records[index];
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
    return true;
}

} // namespace paxsim
