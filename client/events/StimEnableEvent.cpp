#include "client/events/StimEnableEvent.h"

#include "client/KestClient.h"

std::unique_ptr<StimEnableEvent> gStimEnableEvent;

StimEnableEvent::StimEnableEvent(std::int32_t delay, KestClient* client, std::int32_t module,
                                 std::int32_t prop, bool value)
    : KestEvent(client), delay_(delay), module_(module), prop_(prop), value_(value) {}

StimEnableEvent::~StimEnableEvent() {
    // Run reads this event's fields: its thread must end before they are destroyed.
    Join();
}

void StimEnableEvent::AddClearElecList(const std::vector<std::int32_t>& list) {
    if (!value_) {
        clear_ = list;
    }
}

int StimEnableEvent::Run() {
    if (!WaitFor(delay_)) {
        return 0;
    }
    KestClient* client = Client();
    if (client == nullptr) {
        return 0;
    }
    if (!value_ && !clear_.empty()) {
        std::vector<int> clear(clear_.begin(), clear_.end());
        client->SendStimClear(clear, 1);
    }
    if (module_ >= 0 && prop_ >= 0) {
        client->SendBool(unsigned(module_), unsigned(prop_), value_);
    }
    return 0;
}
