// StimEnableEvent: switches global stimulation off some time after a stimulation command had
// to switch it on. After its delay it clears the stimulation sequences of the listed
// electrodes at the end of their current cycle, then writes the enable property.
#pragma once

#include "client/events/KestEvent.h"

#include <cstdint>
#include <memory>
#include <vector>

class StimEnableEvent : public KestEvent {
  public:
    // delay in milliseconds; (module, prop) address the global stimulation enable property.
    StimEnableEvent(std::int32_t delay, KestClient* client, std::int32_t module, std::int32_t prop,
                    bool value);
    ~StimEnableEvent() override;

    // With value false, replaces the clear list (0-based electrode indexes); with value true
    // nothing is cleared and the list is left alone. Only before Start.
    void AddClearElecList(const std::vector<std::int32_t>& list);

    // Waits the delay, then (unless cancelled) clears and writes the enable; returns 0.
    int Run() override;

    std::int32_t GetDelay() const { return delay_; }
    bool GetValue() const { return value_; }
    const std::vector<std::int32_t>& GetClearElecList() const { return clear_; }

  private:
    std::int32_t delay_;
    std::int32_t module_;
    std::int32_t prop_;
    bool value_;
    std::vector<std::int32_t> clear_;
};

// The switch-off scheduled by the last stimulation command that had to enable stimulation.
// Replacing it destroys the previous event, which waits for that event's thread.
extern std::unique_ptr<StimEnableEvent> gStimEnableEvent;
