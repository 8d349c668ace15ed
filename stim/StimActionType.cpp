#include "stim/StimActionType.h"

#include <cstddef>

namespace {
constexpr const char* kActionNames[] = {"immed", "curcyc", "allcyc", "trigger", "at-time"};
constexpr std::size_t kActionCount = sizeof kActionNames / sizeof kActionNames[0];
} // namespace

bool StimActionFromName(const std::string& name, StimActionType& action) {
    for (std::size_t i = 0; i < kActionCount; ++i) {
        if (name == kActionNames[i]) {
            action = static_cast<StimActionType>(i);
            return true;
        }
    }
    return false;
}

const char* StimActionName(StimActionType action) {
    auto value = static_cast<std::size_t>(action);
    return value < kActionCount ? kActionNames[value] : nullptr;
}
