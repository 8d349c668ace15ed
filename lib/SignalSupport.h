// What the signal and filter commands need from the library beyond the C calls: a stream's
// switch with its kind, the digital input switches, the custom slot's room and a confirmed
// filter selection. Callers hold an open connection.
#pragma once

#include "cache/StreamSwitch.h"

#include <cstdint>

namespace kestlib {

// Continuous streams: 16-bit (kinds 1 and 4) and float (kind 8) samples.
bool IsContinuousKind(std::uint8_t kind);
// False when the electrode has no descriptor for the stream.
bool StreamSwitch(int electrode, const char* stream, KestStreamSwitch* out);
// True when the electrode belongs to a front end or analog input the processor has.
bool HaveElectrode(int electrode);

// The digital input stream's switch: its value, -1 when the digital module lacks it. When
// found, *module and *index address it and *count tells how many switches start there: the
// stream's own and those of the four properties after it that are switches too.
int DiginSwitch(int* module, int* index, int* count);

// Stages the custom slot of the filter takes (never more than one packet carries); -1 for an
// unknown filter or slot.
int CustomFilterMaxStages(int electrode, const char* filter);
// Selects a choice and waits for the processor to confirm it: 0 confirmed, -1 unknown
// filter or choice, KL_ERR_NO_RESPONSE when no matching echo arrived within a second.
int FilterSelectConfirmed(int electrode, const char* filter, int selection);

} // namespace kestlib
