// When a loaded stimulation sequence takes effect, and its place in the header word.
#pragma once

#include <cstdint>
#include <string>

enum class StimActionType : std::uint32_t {
    Immed = 0,   // "immed": at once
    CurCyc = 1,  // "curcyc": at the end of the current cycle
    AllCyc = 2,  // "allcyc": at the end of all cycles
    Trigger = 3, // "trigger": on the next trigger
    AtTime = 4,  // "at-time": at a given processor time
};

// Value of an action that no sequence can carry; added into a header word as it stands.
constexpr std::uint32_t kStimInvalidAction = 0xFFFFFFFF;

// The action shifted into bits 31-28 of the header word, or kStimInvalidAction.
constexpr std::uint32_t StimActionBits(StimActionType action) {
    auto value = static_cast<std::uint32_t>(action);
    return value <= static_cast<std::uint32_t>(StimActionType::AtTime) ? value << 28
                                                                       : kStimInvalidAction;
}

// Looks an action up by its user-facing name ("immed", "curcyc", "allcyc", "trigger",
// "at-time"; exact, case-sensitive). Returns false and leaves action alone when unknown.
bool StimActionFromName(const std::string& name, StimActionType& action);

// The user-facing name of an action, or nullptr for a value outside the enumeration.
const char* StimActionName(StimActionType action);
