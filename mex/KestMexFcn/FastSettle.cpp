// "fastsettle": the fast-settle source and duration of an electrode's front end, after
// stimulation ("stim") or on a digital input ("digin"), read or set.
#include "mex/KestMexFcn/FrontEndArgs.h"
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include "lib/FrontEndAccess.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace KestMexFcn {

namespace {

constexpr const char* kUsage = "usage: kestmex('fastsettle', type ('stim', 'digin'), elec, ...')";
constexpr std::size_t kKindSize = 32;
constexpr long long kMaxElectrode = 4294967295LL;
constexpr unsigned kConfirmMs = 1000;

} // namespace

void FastSettle(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 3) {
        throw MexError(kUsage);
    }
    const auto kind = ReadText(prhs[1], kKindSize);
    if (!kind) {
        throw MexError(std::string("invalid sub-command\n\t") + kUsage);
    }
    const std::vector<double> given = ReadDoubles(prhs[2], "invalid electrode");
    const double first = given.empty() ? std::nan("") : given[0];
    const auto number = WholeIn(first, 1, kMaxElectrode);
    const std::optional<std::string> label =
        number ? kestlib::ModuleLabel(int(*number - 1)) : std::nullopt;
    if (!label) {
        throw MexError("invalid electrode - " + ShowNumber(first));
    }
    if (kestlib::LabelRefusesFastSettle(*label)) {
        throw MexError(Format("%.40s does not support fast settle", label->c_str()));
    }
    const auto parsed = kestlib::ParseFastSettleKind(kind->c_str());
    if (!parsed) {
        throw MexError("invalid sub-command\n\tusage: kestmex('fastsettle', type ('stim', "
                       "'digin'),...')");
    }
    const int electrode = int(*number - 1);
    const int shown = int(*number);
    auto combo = kestlib::FastSettleCombo(electrode, *parsed);
    if (!combo) {
        throw MexError(Format("electrode %d does not support fast settle", shown));
    }
    const auto duration = kestlib::FastSettleDuration(electrode, *parsed);

    double selection = double(combo->box.selection) + 1;
    double settle = duration ? double(duration->Value()) : std::numeric_limits<double>::quiet_NaN();
    if (nrhs >= 4) {
        const std::vector<double> source = ReadDoubles(prhs[3], "invalid fast settle source");
        const auto chosen =
            source.empty() ? std::nullopt : WholeIn(source[0], 1, combo->box.itemCount);
        if (!chosen) {
            throw MexError("invalid fast settle source");
        }
        combo->box.selection = std::uint16_t(*chosen - 1);
        SendComboBox(&combo->box, unsigned(combo->module), unsigned(combo->index));
        selection = double(*chosen);
    }
    if (nrhs >= 5) {
        if (!duration) {
            throw MexError(Format("electrode %d does not support fast settle", shown));
        }
        const std::vector<double> values = ReadDoubles(prhs[4], "invalid fast settle duration");
        const float d = values.empty() || !std::isfinite(values[0])
                            ? std::numeric_limits<float>::quiet_NaN()
                            : float(values[0]);
        if (!(d >= duration->Minimum())) {
            throw MexError(Format("fast settle duration must be greater than %4.2f",
                                  double(duration->Minimum())));
        }
        if (!(d <= duration->Maximum())) {
            throw MexError(Format("fast settle duration must be less than %4.2f",
                                  double(duration->Maximum())));
        }
        if (!kestlib::SendFloatSetting(*duration, d, kConfirmMs)) {
            throw MexError("failed to set property");
        }
        settle = double(d);
    }

    plhs[0] = MakeDouble(selection);
    if (nlhs >= 2) {
        const std::vector<std::string> items = kestlib::ComboItems(*combo);
        mxArray* cell = Host([&] { return mxCreateCellMatrix(items.size(), 1); });
        for (std::size_t i = 0; i < items.size(); ++i) {
            mxArray* text = MakeString(items[i]);
            Host([&] { mxSetCell(cell, i, text); });
        }
        plhs[1] = cell;
    }
    if (nlhs >= 3) {
        plhs[2] = MakeDouble(settle);
    }
}

} // namespace KestMexFcn
