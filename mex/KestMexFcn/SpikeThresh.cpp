// "spike-thresh": the lower and upper spike detection thresholds of electrodes, read or set.
#include "mex/KestMexFcn/Electrodes.h"
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace KestMexFcn {

namespace {

// Every value of a numeric input (an empty input gives none).
std::vector<double> ReadValues(const mxArray* array, const char* what) {
    if (!Host([&] { return mxIsDouble(array); })) {
        throw MexError(Format("%s must be numbers", what));
    }
    const std::size_t count = Host([&] { return mxGetNumberOfElements(array); });
    const double* values = count == 0 ? nullptr : Host([&] { return mxGetPr(array); });
    return std::vector<double>(values, values + count);
}

// The 0-based id of a 1-based electrode with a hardware module.
int CheckElectrode(std::uint32_t electrode, std::uint32_t lowest) {
    if (electrode < lowest) {
        throw MexError("invalid electrode");
    }
    if (kl_get_fe(electrode - 1) < 0) {
        throw MexError("electrode not found");
    }
    return int(electrode - 1);
}

mxArray* MakeRow(const std::vector<double>& values) {
    mxArray* row = Host([&] { return mxCreateDoubleMatrix(1, values.size(), mxREAL); });
    if (!values.empty()) {
        double* out = Host([&] { return mxGetPr(row); });
        std::copy(values.begin(), values.end(), out);
    }
    return row;
}

} // namespace

void SpikeThresh(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 2) {
        throw MexError("usage: [lower, upper] = kestmex('spike-thresh', elec (1-512), [lower [, "
                       "upper]])");
    }
    const std::vector<std::uint32_t> electrodes = ReadElectrodes(prhs[1], "invalid electrode");
    const std::size_t count = electrodes.size();

    if (nrhs == 2) {
        std::vector<double> lowers(count);
        std::vector<double> uppers(count);
        for (std::size_t k = 0; k < count; ++k) {
            const int electrode = CheckElectrode(electrodes[k], 0);
            float lower = 0;
            float upper = 0;
            const int status = kl_spk_thresh(&lower, &upper, electrode);
            if (status != KL_SUCCESS) {
                throw MexError(
                    Format("spike-thresh: electrode %u: status %d", electrodes[k], status));
            }
            lowers[k] = double(lower);
            uppers[k] = double(upper);
        }
        plhs[0] = MakeRow(lowers);
        if (nlhs >= 2) {
            plhs[1] = MakeRow(uppers);
        }
        return;
    }

    const std::vector<double> lowers = ReadValues(prhs[2], "lower thresholds");
    const std::vector<double> uppers =
        nrhs > 3 ? ReadValues(prhs[3], "upper thresholds") : std::vector<double>();
    if (lowers.size() != count || (!uppers.empty() && uppers.size() != count)) {
        throw MexError("electrode list and thresholds must match");
    }
    for (std::size_t k = 0; k < count; ++k) {
        const int electrode = CheckElectrode(electrodes[k], 1);
        float upper = 0;
        if (uppers.empty()) {
            float current = 0;
            kl_spk_thresh(&current, &upper, electrode);
        } else {
            upper = float(uppers[k]);
        }
        if (kl_spk_thresh_set(electrode, float(lowers[k]), upper) != KL_SUCCESS) {
            throw MexError(Format("failed to set spike thresholds of electrode %u", electrodes[k]));
        }
    }
}

} // namespace KestMexFcn
