// "stim": stimulation settings (global and front-end enable, resolution, exhausting resistor,
// trigger source), software triggers, and stimulation described by a parameter text with the
// automatic switch-off after its longest train.
#include "mex/KestMexFcn/Electrodes.h"
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include "lib/StimAccess.h"
#include "stim/StimParamManager.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace KestMexFcn {

namespace {

using kestlib::StimBox;
using kestlib::StimSetting;

constexpr std::size_t kStimTextSize = 10240;
// The switch-off comes this long after the longest train should have ended.
constexpr double kSwitchOffMarginMs = 100;

constexpr const char* kUsage = "usage: kestmex('stim', stim_string)\n"
                               "       kestmex('stim', 'enable', [0|1])\n"
                               "       kestmex('stim', 'module-enable', electrode, [val])\n"
                               "       kestmex('stim', 'res', electrode, [val])\n"
                               "       kestmex('stim', 'trigger-source', [0-4])\n"
                               "       kestmex('stim', 'trigger', [electrode | 'all'])\n";
constexpr const char* kNoGlobalEnable = "failed to retrieve global stim enable property";

// One 1-based electrode number from a numeric input.
std::uint32_t OneElectrode(const mxArray* array) {
    const double value = ReadNumber(array, "electrode");
    if (!std::isfinite(value) || std::trunc(value) < 0 || value >= kMaxElectrodeNumber + 1) {
        throw MexError(Format(
            "invalid electrode %g: electrodes are whole numbers from 1 to 4294967295", value));
    }
    return std::uint32_t(value);
}

// The 0-based index of a 1-based electrode number; -1 when there is none.
int Index(std::uint32_t electrode) {
    return electrode >= 1 && electrode <= std::uint32_t(INT_MAX) ? int(electrode - 1) : -1;
}

bool GlobalEnabled(StimSetting* at) {
    bool on = false;
    if (!kestlib::GlobalStimEnable(at, &on)) {
        throw MexError(kNoGlobalEnable);
    }
    return on;
}

void Enable(int nrhs, const mxArray* prhs[], mxArray* plhs[]) {
    StimSetting at;
    const bool on = GlobalEnabled(&at);
    if (nrhs < 3) {
        plhs[0] = MakeDouble(on ? 1 : 0);
        return;
    }
    SendBool(unsigned(at.module), unsigned(at.index), ReadNumber(prhs[2], "value") != 0);
}

void ModuleEnable(int nrhs, const mxArray* prhs[], mxArray* plhs[]) {
    if (nrhs < 3) {
        throw MexError("usage: kestmex('stim', 'module-enable', electrode, [val])");
    }
    const std::uint32_t electrode = OneElectrode(prhs[2]);
    StimSetting at;
    bool on = false;
    if (!kestlib::ModuleStimEnable(Index(electrode), &at, &on)) {
        throw MexError(Format("electrode %u does not support stim", electrode));
    }
    if (nrhs >= 4) {
        on = ReadNumber(prhs[3], "value") != 0;
        SendBool(unsigned(at.module), unsigned(at.index), on);
    }
    plhs[0] = MakeDouble(on ? 1 : 0);
}

// The texts of "res" and "exhaust".
struct SelectionTexts {
    StimBox box;
    const char* usage;
    const char* unsupported;
    const char* mustDisable;
};

constexpr SelectionTexts kResolution = {
    StimBox::Resolution, "usage: kestmex('stim', 'res', elec, [value 1-5]')",
    "electrode %u does not support ADC resolution changes",
    "stim must be disabled to change stim resolution, see kestmex('stim', 'enable')"};
constexpr SelectionTexts kExhaust = {
    StimBox::Exhaust, "usage: kestmex('stim', 'exhaust', elec, [value 1-8]')",
    "electrode %u does not support exhausting resistor changes",
    "stim must be disabled to change exhaust resistor, see kestmex('stim', 'enable')"};

void Selection(const SelectionTexts& texts, int nrhs, const mxArray* prhs[], mxArray* plhs[]) {
    if (nrhs < 3) {
        throw MexError(texts.usage);
    }
    const std::uint32_t electrode = OneElectrode(prhs[2]);
    KestComboBox box{};
    StimSetting at;
    if (!kestlib::CopyStimBox(texts.box, Index(electrode), &box, &at)) {
        throw MexError(Format(texts.unsupported, electrode));
    }
    if (nrhs < 4) {
        plhs[0] = MakeDouble(double(box.selection) + 1);
        return;
    }
    StimSetting enable;
    if (GlobalEnabled(&enable)) {
        throw MexError(texts.mustDisable);
    }
    // Checked as a double: a value out of range has no integer to convert to.
    const double value = std::trunc(ReadNumber(prhs[3], "value"));
    if (!(value >= 1 && value <= double(box.itemCount))) {
        throw MexError(Format("Selection must be between 1 and %d", int(box.itemCount)));
    }
    box.selection = std::uint16_t(value - 1);
    SendComboBox(&box, unsigned(at.module), unsigned(at.index));
}

void ResOptions(int nrhs, const mxArray* prhs[], mxArray* plhs[]) {
    if (nrhs < 3) {
        throw MexError("usage: kestmex('stim', 'res_options', elec)");
    }
    const std::uint32_t electrode = OneElectrode(prhs[2]);
    float steps[KL_STIM_MAX_OPTIONS] = {};
    const int count = Index(electrode) < 0 ? 0 : kl_stim_get_res_options(Index(electrode), steps);
    if (count <= 0) {
        throw MexError(Format(kResolution.unsupported, electrode));
    }
    if (nrhs != 3) {
        return;
    }
    mxArray* row = Host([&] { return mxCreateDoubleMatrix(1, std::size_t(count), mxREAL); });
    double* out = Host([&] { return mxGetPr(row); });
    std::copy(steps, steps + count, out);
    plhs[0] = row;
}

// A value as an int, when it is a finite number that fits one.
bool AsInt(double value, int* out) {
    value = std::trunc(value);
    if (!std::isfinite(value) || value < double(INT_MIN) || value > double(INT_MAX)) {
        return false;
    }
    *out = int(value);
    return true;
}

void TriggerSource(int nrhs, const mxArray* prhs[], mxArray* plhs[]) {
    if (nrhs != 3 && nrhs != 4) {
        throw MexError("usage: kestmex('stim', 'trigger-source', elec, [value 0-4]')");
    }
    const int index = Index(OneElectrode(prhs[2]));
    if (nrhs == 3) {
        int source = 0;
        if (index < 0 || kl_stim_get_trigger_source(index, &source) != KL_SUCCESS) {
            throw MexError("failed to get stim trigger source");
        }
        plhs[0] = MakeDouble(source);
        return;
    }
    int source = 0;
    if (index < 0 || !AsInt(ReadNumber(prhs[3], "source"), &source) ||
        kl_stim_set_trigger_source(index, source) != KL_SUCCESS) {
        throw MexError("failed to set stim trigger source");
    }
}

void Trigger(int nrhs, const mxArray* prhs[]) {
    if (nrhs != 3) {
        throw MexError("usage: kestmex('stim', 'trigger', [electrode | 'all'])");
    }
    int status = KL_SUCCESS;
    if (IsText(prhs[2])) {
        if (ReadText(prhs[2], 4).value_or("") != "all") {
            throw MexError("invalid stim trigger target");
        }
        status = kl_stim_trigger_all();
    } else {
        const int index = Index(OneElectrode(prhs[2]));
        status = index < 0 ? KL_ERR_UNSUPPORTED : kl_stim_trigger(index);
    }
    if (status != KL_SUCCESS) {
        throw MexError("Stim trigger failed");
    }
}

// Electrodes of `first`, then those of `more` not already listed.
std::vector<std::int32_t> Merge(std::vector<std::int32_t> first,
                                const std::vector<std::int32_t>& more) {
    for (std::int32_t electrode : more) {
        if (std::find(first.begin(), first.end(), electrode) == first.end()) {
            first.push_back(electrode);
        }
    }
    return first;
}

// Stimulation described by a parameter text. When global stimulation is off, or on only
// because an earlier text's switch-off is still pending, this command switches it on and
// schedules the switch-off after the longest of its own and the pending trains. The pending
// switch-off is cancelled (and its thread joined) before anything is written, so it can never
// cut the new stimulation short.
void ParameterText(const std::string& text) {
    const StimParamManager parsed(text, nullptr);
    if (!parsed.IsValid()) {
        // Refused before anything is written or the pending switch-off is touched.
        throw MexError("invalid stim command");
    }
    const kestlib::PendingStimOff pending = kestlib::CancelStimOff();
    StimSetting at;
    bool on = false;
    const bool haveEnable = kestlib::GlobalStimEnable(&at, &on);
    const bool mustEnable = haveEnable && (!on || pending.pending);
    // Puts back the switch-off that was pending, when this command does not replace it.
    auto restore = [&] {
        if (pending.pending && haveEnable) {
            kestlib::ScheduleStimOff(pending.remainingMs, at, pending.electrodes);
        }
    };
    if (mustEnable) {
        try {
            SendBool(unsigned(at.module), unsigned(at.index), true);
        } catch (const MexError&) {
            restore();
            throw;
        }
    }
    const int result = kestlib::SendStimText(text);
    if (result == 0) {
        if (mustEnable) {
            const double train =
                std::trunc(double(parsed.GetMaxTrainLength()) / 1000 + kSwitchOffMarginMs);
            const int delay = std::max(int(std::min(train, double(INT_MAX))), pending.remainingMs);
            kestlib::ScheduleStimOff(delay, at, Merge(parsed.GetElecList(), pending.electrodes));
        }
        return;
    }
    if (mustEnable && !on) {
        SendBool(unsigned(at.module), unsigned(at.index), false);
    } else {
        restore();
    }
    switch (result) {
    case 1:
        throw MexError("stim string included invalid electrode(s)");
    case 2:
        throw MexError("invalid stim command");
    default:
        throw MexError("unknown error");
    }
}

} // namespace

void Stim(int /*nlhs*/, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 2) {
        throw MexError(kUsage);
    }
    const std::optional<std::string> text = ReadText(prhs[1], kStimTextSize);
    if (!text) {
        throw MexError("stim command requires stim parameter string");
    }
    if (*text == "enable") {
        Enable(nrhs, prhs, plhs);
    } else if (*text == "module-enable") {
        ModuleEnable(nrhs, prhs, plhs);
    } else if (*text == "res") {
        Selection(kResolution, nrhs, prhs, plhs);
    } else if (*text == "res_options") {
        ResOptions(nrhs, prhs, plhs);
    } else if (*text == "exhaust") {
        Selection(kExhaust, nrhs, prhs, plhs);
    } else if (*text == "trigger-source") {
        TriggerSource(nrhs, prhs, plhs);
    } else if (*text == "trigger") {
        Trigger(nrhs, prhs);
    } else {
        ParameterText(*text);
    }
}

} // namespace KestMexFcn
