#include "emulator/model/ImpedanceKnobs.h"

#include <sstream>
#include <string>

namespace paxsim {

namespace {

constexpr long kMaxDelayMs = 600000;
constexpr long kMaxElectrode = 511;

bool ReadNumber(std::istringstream& in, long high, long* value) {
    std::string word;
    in >> word;
    if (word.empty() || word.find_first_not_of("0123456789") != std::string::npos ||
        word.size() > 9) {
        return false;
    }
    *value = std::stol(word);
    return *value <= high;
}

} // namespace

std::string ApplyImpedanceKnob(ProcessorModel& model, const std::string& arguments) {
    std::istringstream in(arguments);
    std::string what;
    in >> what;
    ModelConfig& config = model.MutableConfig();
    long value = 0;
    if (what == "delay") {
        if (!ReadNumber(in, kMaxDelayMs, &value)) {
            return "error impedance delay takes 0-600000 ms";
        }
        config.impedanceDelayMs = std::uint32_t(value);
    } else if (what == "never") {
        config.impedanceSilent = true;
    } else if (what == "normal") {
        config.impedanceSilent = false;
        config.impedanceDelayMs = 0;
    } else if (what == "underflow" || what == "overflow") {
        if (!ReadNumber(in, kMaxElectrode, &value)) {
            return "error impedance " + what + " takes an electrode 0-511";
        }
        (what == "underflow" ? config.impedanceUnderflow : config.impedanceOverflow)
            .insert(unsigned(value));
    } else if (what == "clear") {
        config.impedanceUnderflow.clear();
        config.impedanceOverflow.clear();
    } else {
        return "error impedance takes delay MS, never, normal, underflow E, overflow E or clear";
    }
    return "ok";
}

} // namespace paxsim
