// What the stimulation commands need beyond the C calls: settings with the address to write
// them, locked copies of combo boxes, the front end's model facts, the sends of parameter
// texts and sequences, and the pending automatic switch-off. Every function reads the open
// connection's cache and sender; none throws.
#pragma once

#include "protocol/KestPacket.h"

#include <cstdint>
#include <string>
#include <vector>

class StimSeqManager;

namespace kestlib {

// Where a setting lives: the module id and property index to write it.
struct StimSetting {
    int module = -1;
    int index = -1;
};

enum class StimBox { Resolution, Exhaust, TriggerSource };

// The global stimulation enable: its address and value. False when the processor has none
// (or its cached copy is cleared, awaiting an echo).
bool GlobalStimEnable(StimSetting* at, bool* value);
// The front end's stimulation enable of an electrode (0-based).
bool ModuleStimEnable(int electrode, StimSetting* at, bool* value);
// The global and the front end's software trigger.
bool GlobalStimTrigger(StimSetting* at);
bool ModuleStimTrigger(int electrode, StimSetting* at);
// A copy of the electrode's combo box taken under the cache lock, with its address.
bool CopyStimBox(StimBox which, int electrode, KestComboBox* box, StimSetting* at);

// Model facts of the electrode's front end (false when unknown).
bool HasStimCalibration(int electrode);
bool HasMaxStimLimit(int electrode);
// The label of the electrode's front-end module ("" when unknown).
std::string FrontEndLabel(int electrode);
// The step in µA of the selected resolution (0 when unknown).
double StimResolutionStep(int electrode, int selection);

// Sends through the open connection's sender: 0 sent, 1 an electrode without stimulation
// address, 2 an invalid text; -1 without a connection.
int SendStimText(const std::string& text);
int SendStimSequences(const StimSeqManager& sequences);

// The automatic switch-off scheduled by the last stimulation command that had to enable
// stimulation.
struct PendingStimOff {
    bool pending = false; // it had not acted yet (or just had)
    int remainingMs = 0;  // time left until it would have acted
    std::vector<std::int32_t> electrodes;
};
// Cancels the scheduled switch-off and waits for its thread; reports what it would still
// have done. Nothing pending: pending false.
PendingStimOff CancelStimOff();
// Schedules a new switch-off of global enable `at` after `delayMs`, clearing `electrodes` at
// the end of their current cycle first. False when it could not be started.
bool ScheduleStimOff(int delayMs, const StimSetting& at,
                     const std::vector<std::int32_t>& electrodes);

} // namespace kestlib
