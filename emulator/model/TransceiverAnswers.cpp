// The transceiver fault knob of the processor model: answers to transceiver properties held
// back for a while or for good.
#include "emulator/model/ProcessorModel.h"
#include "emulator/model/TransceiverFaults.h"

#include <cstring>

namespace paxsim {

bool IsTransceiverPropertyName(const char* name) {
    for (const char* known :
         {"Implant Connection Status", "Implant Search Trigger", "Implant Status",
          "Transceiver Command", "Implant Command Response"}) {
        if (std::strcmp(name, known) == 0) {
            return true;
        }
    }
    return false;
}

bool ProcessorModel::HoldsTransceiverAnswer(const ModuleModel& module, std::uint16_t index) const {
    if (transceiverFaults_.answer == TransceiverAnswer::Normal) {
        return false;
    }
    for (const auto& [name, at] : module.named) {
        if (at == index && IsTransceiverPropertyName(name.c_str())) {
            return true;
        }
    }
    return false;
}

void ProcessorModel::ReleaseTransceiverAnswer(const Outbox& held, std::uint32_t now) {
    if (transceiverFaults_.answer == TransceiverAnswer::Never) {
        return;
    }
    const std::vector<std::uint8_t>& bytes = held.Bytes();
    const std::uint32_t due = now + transceiverFaults_.delayTicks;
    for (std::size_t at = 0; at < bytes.size() && bytes[at] != 0;
         at += std::size_t(bytes[at]) * 4) {
        const auto begin = bytes.begin() + std::ptrdiff_t(at);
        delayed_.push_back({due, std::vector<std::uint8_t>(begin, begin + bytes[at] * 4)});
    }
}

} // namespace paxsim
