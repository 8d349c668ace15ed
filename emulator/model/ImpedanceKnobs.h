// Impedance faults of the emulated processor, turned by the control channel's "impedance"
// command: answers that come late or never, and electrodes measured as under- or overflow.
#pragma once

#include "emulator/model/ProcessorModel.h"

#include <string>

namespace paxsim {

// Arguments after "impedance": "delay MS", "never", "normal" (no delay, answered),
// "underflow E", "overflow E" (0-based electrode), "clear" (no markers). Returns the control
// channel's answer: "ok" or "error <reason>".
std::string ApplyImpedanceKnob(ProcessorModel& model, const std::string& arguments);

} // namespace paxsim
