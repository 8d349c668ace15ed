// An emulated recording operator: it keeps a recording trial descriptor and one
// signal-selection descriptor per front end, answers their requests and takes their sets.
// A requested trial change settles (start requested -> recording, …) once settleTicks
// have passed since the set, so a client that asks again right away may still see the
// request. A request for everything (255, 0, 0) is answered with the trial descriptor.
// Packets it sends carry processor id 150.
#pragma once

#include "emulator/model/ModelConfig.h"
#include "emulator/model/Outbox.h"
#include "emulator/model/Records.h"

#include <cstdint>
#include <string>
#include <vector>

namespace paxsim {

constexpr unsigned kOperatorSelectionSlots = 32;

class OperatorModel {
  public:
    OperatorModel(const ModelConfig& config, std::uint32_t settleTicks);

    // One whole packet from a client; answers go to out.
    void HandlePacket(const std::uint8_t* packet, std::size_t bytes, std::uint32_t now,
                      Outbox& out);
    // The error message text the operator reports in its trial descriptor.
    void SetErrorMessage(const std::string& text);
    // Sets the trial status as the operator itself would (any code, valid or not).
    void SetTrialStatus(std::int32_t status);
    // The processor id written into the packets it sends (150 unless changed).
    void SetHeaderProcId(std::uint8_t id) { headerProcId_ = id; }
    std::int32_t TrialStatus(std::uint32_t now);
    // The signal-selection descriptor the operator answers as number `slot` (below
    // kOperatorSelectionSlots); a test may change it.
    Record& Selection(unsigned slot) { return selections_.at(slot); }
    // A silent operator takes packets but answers none.
    void SetSilent(bool silent) { silent_ = silent; }
    const KestRecordingTrialDescriptor& Trial() const {
        return View<KestRecordingTrialDescriptor>(trial_);
    }

  private:
    void Settle(std::uint32_t now);
    void Answer(std::uint16_t index, const Record& record, std::uint32_t now, Outbox& out);

    Record trial_;
    std::vector<Record> selections_;
    std::uint32_t settleTicks_;
    std::uint32_t setAt_ = 0;
    bool pending_ = false;
    bool silent_ = false;
    std::uint8_t headerProcId_ = kKestOperatorProcId;
};

} // namespace paxsim
