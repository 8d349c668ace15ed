// Where a property lives in the emulated processor, for the control channel's "index"
// command: tests that read stored records back need the index of a named property or the
// first index of a named block.
#pragma once

#include "emulator/model/ProcessorModel.h"

#include <string>

namespace paxsim {

// Arguments "MODULE NAME" (the name may contain spaces): "ok <index>" of the named property,
// else of the first record of the named block; "error <reason>" when there is none.
std::string LookupIndex(const ProcessorModel& model, const std::string& arguments);

} // namespace paxsim
