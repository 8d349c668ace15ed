// "adc2phys" and "lowcorner": selectors of an electrode's front end (the ADC resolution and
// the hardware filter low corner), read or set.
#include "mex/KestMexFcn/FrontEndArgs.h"
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include "lib/FrontEndAccess.h"

#include <cmath>
#include <optional>
#include <vector>

namespace KestMexFcn {

namespace {

constexpr long long kMaxElectrode = 4294967295LL;

// Sends the selector with the 1-based selection given by the caller.
void Select(kestlib::ComboCopy& combo, const mxArray* input) {
    const std::vector<double> values =
        ReadDoubles(input, Format("Selection must be between 1 and %d", combo.box.itemCount));
    const auto chosen = values.empty() ? std::nullopt : WholeIn(values[0], 1, combo.box.itemCount);
    if (!chosen) {
        throw MexError(Format("Selection must be between 1 and %d", combo.box.itemCount));
    }
    combo.box.selection = std::uint16_t(*chosen - 1);
    SendComboBox(&combo.box, unsigned(combo.module), unsigned(combo.index));
}

} // namespace

void ADC2Phys(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 2) {
        throw MexError("usage: kestmex('adc2phys', elec, [value 1-3]')");
    }
    const std::vector<double> given = ReadDoubles(prhs[1], "invalid electrode");
    const double first = given.empty() ? std::nan("") : given[0];
    const auto number = WholeIn(first, 1, kMaxElectrode);
    auto combo = number ? kestlib::ADC2PhysCombo(int(*number - 1)) : std::nullopt;
    if (!combo) {
        throw MexError("electrode " + ShowNumber(first) +
                       " does not support ADC resolution changes");
    }
    if (nrhs == 2) {
        plhs[0] = MakeDouble(double(combo->box.selection) + 1);
        return;
    }
    Select(*combo, prhs[2]);
}

void HwLowCorner(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 2) {
        throw MexError("usage: kestmex('lowcorner', elec(s), [value 1-8]')");
    }
    const std::vector<double> electrodes = ReadDoubles(prhs[1], "invalid electrode");
    std::optional<double> selection;
    for (double x : electrodes) {
        // The nearest whole number.
        const auto id = WholeIn(std::isfinite(x) ? x + 0.5 : x, 1, kMaxElectrode);
        const std::string shown = id ? Format("%lld", *id) : ShowNumber(x);
        if (!id || kl_get_fe(std::uint32_t(*id - 1)) < 0) {
            Warn("Electrode ID " + shown + " is invalid");
            continue;
        }
        auto combo = kestlib::LowCornerCombo(int(*id - 1));
        if (!combo) {
            Warn("The hardware filter low corner for electrode " + shown + " is fixed");
            continue;
        }
        if (nrhs == 2) {
            selection = double(combo->box.selection) + 1;
        } else {
            Select(*combo, prhs[2]);
        }
    }
    if (nrhs == 2 && selection) {
        plhs[0] = MakeDouble(*selection);
    }
}

} // namespace KestMexFcn
