// What a stored set does besides being echoed, chosen by the module's kind: the processor
// module and the digital output here, a front end's hardware module in FrontEndActions.cpp.
#include "emulator/model/ModelFactory.h"
#include "emulator/model/ProcessorModel.h"
#include "emulator/model/RecordValues.h"
#include "emulator/model/TrialStatus.h"

#include <iterator>

namespace paxsim {

bool ProcessorModel::Act(ModuleModel& m, std::uint16_t index, std::uint32_t now, Outbox& out) {
    if (m.id == kProcessorModule) {
        return ActOnProcessor(m, index, now, out);
    }
    if (m.id == kDigitalModule) {
        return ActOnDigitalOutput(m, index);
    }
    if (FrontEndOf(m.id) >= 0 && m.id % 2 == 1) {
        return ActOnFrontEnd(m, index, now, out);
    }
    return true;
}

ProcessorModel::Action ProcessorModel::FindAction(const NamedAction* actions, std::size_t count,
                                                  const ModuleModel& m, std::uint16_t index) const {
    for (std::size_t i = 0; i < count; ++i) {
        if (NameIs(m, actions[i].name, index)) {
            return actions[i].act;
        }
    }
    return nullptr;
}

bool ProcessorModel::ActOnProcessor(ModuleModel& m, std::uint16_t index, std::uint32_t now,
                                    Outbox& out) {
    static const NamedAction kActions[] = {
        {"Restart Paxexec Trigger", &ProcessorModel::OnRestartTrigger},
        {"Stim Trigger", &ProcessorModel::OnAllStimTrigger},
        {"Stim Enable", &ProcessorModel::OnAllStimEnable},
        {"Recording Trial Descriptor", &ProcessorModel::OnTrialDescriptor},
    };
    Action act = FindAction(kActions, std::size(kActions), m, index);
    return act ? (this->*act)(m, index, now, out) : true;
}

bool ProcessorModel::OnRestartTrigger(ModuleModel& m, std::uint16_t index, std::uint32_t, Outbox&) {
    if (BoolValue(m.records[index])) {
        restartRequested_ = true;
    }
    return true;
}

bool ProcessorModel::OnAllStimTrigger(ModuleModel& m, std::uint16_t index, std::uint32_t now,
                                      Outbox&) {
    if (BoolValue(m.records[index])) {
        TriggerStim(-1, now);
    }
    return true;
}

bool ProcessorModel::OnAllStimEnable(ModuleModel& m, std::uint16_t index, std::uint32_t, Outbox&) {
    if (!BoolValue(m.records[index])) {
        stimPlays_.clear();
    }
    return true;
}

bool ProcessorModel::OnTrialDescriptor(ModuleModel& m, std::uint16_t index, std::uint32_t,
                                       Outbox&) {
    Record& stored = m.records[index];
    if (stored.size() >= kKestTrialDescSize) {
        auto& trial = View<KestRecordingTrialDescriptor>(stored);
        trial.SetStatus(SettleTrialStatus(trial.Status()));
    }
    return true;
}

bool ProcessorModel::ActOnDigitalOutput(ModuleModel& m, std::uint16_t index) {
    const Record& stored = m.records[index];
    if (index == kDigitalOutputIndex && stored.size() >= 8) {
        digitalOutput_ = kest::LoadLe<std::uint32_t>(&stored[4]);
    }
    return true;
}

} // namespace paxsim
