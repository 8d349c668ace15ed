// An impedance cycle of the emulated processor: the measurements of the electrodes the
// impedance control names, sent at once, late or never as the impedance knobs say.
#include "emulator/model/ProcessorModel.h"
#include "emulator/model/RecordValues.h"

#include <algorithm>
#include <cstring>

namespace paxsim {
namespace {

constexpr std::uint32_t kImpedanceUnderflow = 0x7F7F0002;
constexpr std::uint32_t kImpedanceOverflow = 0x7F7F0001;

} // namespace

void ProcessorModel::MeasureImpedance(ModuleModel& m, std::uint32_t now, Outbox& out) {
    const Record& control = m.Value("Impedance Control");
    unsigned count = control.size() >= 8 ? kest::LoadLe<std::uint16_t>(&control[6]) / 4u : 0u;
    count = std::min(count, 32u);
    Record result = EmptyRecord(kKestImplantStatusType, 20 + 8 * 32);
    kest::StoreLe<std::uint16_t>(&result[6], static_cast<std::uint16_t>(2 * count));
    unsigned frontEnd = unsigned(FrontEndOf(m.id));
    for (unsigned k = 0; k < count; ++k) {
        std::size_t at = 16 + 8 * std::size_t(k);
        unsigned channel =
            control.size() >= at + 2 ? kest::LoadLe<std::uint16_t>(&control[at]) : 0u;
        unsigned electrode = 32 * frontEnd + channel % 32;
        std::uint32_t value;
        if (config_.impedanceUnderflow.count(electrode)) {
            value = kImpedanceUnderflow;
        } else if (config_.impedanceOverflow.count(electrode)) {
            value = kImpedanceOverflow;
        } else {
            float ohms = ImpedanceOhms(electrode);
            std::memcpy(&value, &ohms, 4);
        }
        kest::StoreLe(&result[20 + 8 * std::size_t(k)], value);
    }
    m.Value("Impedance Measurements") = std::move(result);
    if (config_.impedanceSilent) {
        return; // a measurement that never completes
    }
    if (config_.impedanceDelayMs > 0) {
        const std::uint32_t due = now + config_.impedanceDelayMs * 30;
        Outbox later;
        later.AppendConfig(m.id, m.Index("Impedance Measurements"),
                           m.Value("Impedance Measurements"), due);
        // Kept in order of due time, ahead of anything due later.
        auto at = std::find_if(delayed_.begin(), delayed_.end(),
                               [&](const Delayed& d) { return !Due(due, d.due); });
        delayed_.insert(at, {due, later.Bytes()});
        return;
    }
    Send(m.id, m.Index("Impedance Measurements"), now, out);
}

} // namespace paxsim
