#include "lib/StimAccess.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "client/events/StimEnableEvent.h"
#include "stim/StimSeqManager.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

namespace kestlib {

namespace {

using Clock = std::chrono::steady_clock;

// What the scheduled switch-off will do, kept beside gStimEnableEvent.
struct ScheduledOff {
    Clock::time_point deadline{};
    std::vector<std::int32_t> electrodes;
    const KestClient* client = nullptr;
};
ScheduledOff gScheduled;

// How long after its deadline a switch-off may have sent an enable write whose echo the
// cache has not seen yet: such a switch-off is treated as still pending.
constexpr auto kEchoAllowance = std::chrono::milliseconds(1000);

bool ReadBool(const KestBool* found, const StimSetting& at, bool* value) {
    if (found == nullptr || at.module < 0 || at.index < 0) {
        return false;
    }
    KestBool copy{};
    if (gKestCache->CopyPropertyRecord(unsigned(at.module), unsigned(at.index), &copy, sizeof copy,
                                       offsetof(KestBool, value) + 1) == 0 ||
        copy.head.type != kKestBoolType) {
        return false;
    }
    if (value != nullptr) {
        *value = copy.value != 0;
    }
    return true;
}

bool Ready() {
    return gKestCache != nullptr && gKestCache->IsInit();
}

} // namespace

bool GlobalStimEnable(StimSetting* at, bool* value) {
    if (!Ready() || at == nullptr) {
        return false;
    }
    StimSetting found;
    const KestBool* record = gKestCache->GetGlobalStimEnable(&found.module, &found.index);
    if (!ReadBool(record, found, value)) {
        return false;
    }
    *at = found;
    return true;
}

bool ModuleStimEnable(int electrode, StimSetting* at, bool* value) {
    if (!Ready() || at == nullptr || electrode < 0) {
        return false;
    }
    StimSetting found;
    const KestBool* record =
        gKestCache->GetStimModuleEnable(electrode, &found.module, &found.index);
    if (!ReadBool(record, found, value)) {
        return false;
    }
    *at = found;
    return true;
}

bool GlobalStimTrigger(StimSetting* at) {
    if (!Ready() || at == nullptr) {
        return false;
    }
    StimSetting found;
    const KestBool* record = gKestCache->GetGlobalStimTriggerEnable(&found.module, &found.index);
    if (!ReadBool(record, found, nullptr)) {
        return false;
    }
    *at = found;
    return true;
}

bool ModuleStimTrigger(int electrode, StimSetting* at) {
    if (!Ready() || at == nullptr || electrode < 0) {
        return false;
    }
    StimSetting found;
    const KestBool* record =
        gKestCache->GetModuleStimTriggerEnable(electrode, &found.module, &found.index);
    if (!ReadBool(record, found, nullptr)) {
        return false;
    }
    *at = found;
    return true;
}

bool CopyStimBox(StimBox which, int electrode, KestComboBox* box, StimSetting* at) {
    if (!Ready() || box == nullptr || at == nullptr || electrode < 0) {
        return false;
    }
    StimSetting found;
    const KestComboBox* record = nullptr;
    switch (which) {
    case StimBox::Resolution:
        record = gKestCache->GetStimResComboBox(electrode, &found.module, &found.index);
        break;
    case StimBox::Exhaust:
        record = gKestCache->GetExhaustComboBox(electrode, &found.module, &found.index);
        break;
    case StimBox::TriggerSource:
        record = gKestCache->GetStimTriggerSourceComboBox(electrode, &found.module, &found.index);
        break;
    }
    if (record == nullptr || found.module < 0 || found.index < 0) {
        return false;
    }
    KestComboBox copy{};
    if (gKestCache->CopyPropertyRecord(unsigned(found.module), unsigned(found.index), &copy,
                                       sizeof copy, sizeof copy) == 0 ||
        copy.head.type != kKestComboBoxType) {
        return false;
    }
    *box = copy;
    *at = found;
    return true;
}

bool HasStimCalibration(int electrode) {
    try {
        return Ready() && electrode >= 0 && gKestCache->HasStimCalib(electrode);
    } catch (const std::exception&) {
        return false;
    }
}

bool HasMaxStimLimit(int electrode) {
    try {
        return Ready() && electrode >= 0 && gKestCache->HasMaxStimLimit(electrode);
    } catch (const std::exception&) {
        return false;
    }
}

std::string FrontEndLabel(int electrode) {
    if (!Ready() || electrode < 0) {
        return "";
    }
    int module = -1;
    const KestModuleDesc* desc = gKestCache->GetModuleDesc(electrode, &module);
    if (desc == nullptr) {
        return "";
    }
    // The descriptor's bytes change in place when the processor sends a new copy.
    auto hold = gKestCache->GetLock();
    if (desc->head.type == kKestRecordCleared) {
        return "";
    }
    return std::string(desc->label, KestTextLength(desc->label, sizeof desc->label));
}

double StimResolutionStep(int electrode, int selection) {
    if (!Ready() || electrode < 0 || selection < 0) {
        return 0;
    }
    float steps[32] = {};
    const int count = gKestCache->GetStimResOptions(electrode, steps, 32);
    return selection < count ? double(steps[selection]) : 0.0;
}

int SendStimText(const std::string& text) {
    if (!Ready() || gKestClient == nullptr) {
        return -1;
    }
    try {
        return gKestClient->SendStimCmd(text);
    } catch (const std::exception&) {
        return -1;
    }
}

int SendStimSequences(const StimSeqManager& sequences) {
    if (!Ready() || gKestClient == nullptr) {
        return -1;
    }
    try {
        return gKestClient->SendStimSeq(sequences);
    } catch (const std::exception&) {
        return -1;
    }
}

PendingStimOff CancelStimOff() {
    PendingStimOff result;
    if (!gStimEnableEvent) {
        return result;
    }
    const auto now = Clock::now();
    gStimEnableEvent->Cancel();
    gStimEnableEvent.reset(); // waits for its thread
    if (gScheduled.client == gKestClient && gKestClient != nullptr &&
        now < gScheduled.deadline + kEchoAllowance) {
        result.pending = true;
        result.remainingMs = int(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(gScheduled.deadline - now)
                   .count()));
        result.electrodes = gScheduled.electrodes;
    }
    gScheduled = ScheduledOff{};
    return result;
}

bool ScheduleStimOff(int delayMs, const StimSetting& at,
                     const std::vector<std::int32_t>& electrodes) {
    if (gKestClient == nullptr) {
        return false;
    }
    try {
        auto event =
            std::make_unique<StimEnableEvent>(delayMs, gKestClient, at.module, at.index, false);
        event->AddClearElecList(electrodes);
        gScheduled.deadline = Clock::now() + std::chrono::milliseconds(delayMs);
        gScheduled.electrodes = electrodes;
        gScheduled.client = gKestClient;
        gStimEnableEvent = std::move(event);
        return gStimEnableEvent->Start();
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace kestlib
