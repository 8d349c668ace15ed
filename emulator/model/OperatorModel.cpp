#include "emulator/model/OperatorModel.h"

#include "emulator/model/ModelFactory.h"
#include "emulator/model/TrialStatus.h"

#include <cstring>

namespace paxsim {

OperatorModel::OperatorModel(const ModelConfig& config, std::uint32_t settleTicks)
    : settleTicks_(settleTicks) {
    KestRecordingTrialDescriptor trial{};
    trial.head = {1, kKestTrialDescType, 0, 0};
    trial.SetStatus(kKestTrialStopped);
    CopyText(trial.fileName, sizeof trial.fileName, "trial");
    trial_ = RecordOf(trial);
    for (unsigned i = 0; i < kOperatorSelectionSlots; ++i) {
        BmFeSignalSelectionDesc sel{};
        sel.head = {1, kKestSignalSelectionDescType, 0, 0};
        if (i < config.frontEnds.size()) {
            sel.port = static_cast<std::uint8_t>(i / 4);
            sel.slot = static_cast<std::uint8_t>(i % 4);
            sel.valid = 1;
            unsigned hw = HardwareModuleId(i);
            sel.entries[0].streamKey = hw << 16 | 1u << 8;       // raw
            sel.entries[1].streamKey = (hw + 1) << 16 | 1u << 8; // lfp
        } else {
            sel.port = 0xFF; // no front end behind this slot
            sel.slot = 0xFF;
        }
        selections_.push_back(RecordOf(sel));
    }
}

void OperatorModel::SetErrorMessage(const std::string& text) {
    auto& trial = View<KestRecordingTrialDescriptor>(trial_);
    CopyText(trial.errorMessage, sizeof trial.errorMessage, text);
}

void OperatorModel::SetTrialStatus(std::int32_t status) {
    View<KestRecordingTrialDescriptor>(trial_).SetStatus(status);
    pending_ = false;
}

void OperatorModel::Settle(std::uint32_t now) {
    if (pending_ && static_cast<std::int32_t>(now - setAt_) >= std::int32_t(settleTicks_)) {
        auto& trial = View<KestRecordingTrialDescriptor>(trial_);
        trial.SetStatus(SettleTrialStatus(trial.Status()));
        pending_ = false;
    }
}

std::int32_t OperatorModel::TrialStatus(std::uint32_t now) {
    Settle(now);
    return View<KestRecordingTrialDescriptor>(trial_).Status();
}

void OperatorModel::Answer(std::uint16_t index, const Record& record, std::uint32_t now,
                           Outbox& out) {
    if (silent_) {
        return;
    }
    std::size_t at = out.Bytes().size();
    out.AppendConfig(0, index, record, now);
    // From an operator: processor id 150 (unless told otherwise) in the header and as the
    // address's target.
    std::uint8_t* packet = out.Data() + at;
    packet[1] = headerProcId_;
    packet[8] = headerProcId_;
}

void OperatorModel::HandlePacket(const std::uint8_t* packet, std::size_t bytes, std::uint32_t now,
                                 Outbox& out) {
    if (bytes < kKestConfigHeaderSize || std::size_t(packet[0]) * 4 != bytes ||
        packet[3] != kKestConfigStream || packet[9] != 0) {
        return;
    }
    const auto* config = reinterpret_cast<const KestConfigPacket*>(packet);
    std::size_t length = config->RecordLength();
    std::uint16_t index = config->propIndex;
    if (length == 0 && config->targetProcId == kKestAllProcessors && index == 0) {
        // "Send everything": the operator's state is its trial descriptor.
        Settle(now);
        Answer(kKestOperatorTrialPropIndex, trial_, now, out);
        return;
    }
    if (index == kKestOperatorTrialPropIndex) {
        if (length >= kKestTrialDescSize) {
            std::memcpy(trial_.data(), config->Record(), kKestTrialDescSize);
            trial_[0] = 1;
            trial_[1] = kKestTrialDescType;
            pending_ = true;
            setAt_ = now;
            Settle(now);
        } else if (length == 0) {
            Settle(now);
            Answer(index, trial_, now, out);
        }
        return;
    }
    if (index >= kKestOperatorSignalSelectionPropIndex &&
        index < kKestOperatorSignalSelectionPropIndex + kOperatorSelectionSlots) {
        Record& selection = selections_[index - kKestOperatorSignalSelectionPropIndex];
        if (length >= kKestSignalSelectionDescSize) {
            std::memcpy(selection.data(), config->Record(), kKestSignalSelectionDescSize);
        } else if (length == 0) {
            Answer(index, selection, now, out);
        }
    }
}

} // namespace paxsim
