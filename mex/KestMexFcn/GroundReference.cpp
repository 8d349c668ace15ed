// "ground" and "reference": the channel ground and reference switches of electrodes.
#include "mex/KestMexFcn/FrontEndArgs.h"
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include <cmath>
#include <string>
#include <vector>

namespace KestMexFcn {

namespace {

constexpr long long kMaxElectrode = 4294967295LL;

void Switch(int nrhs, const mxArray* prhs[], const char* command, const char* unsupported,
            int32_t (*call)(uint32_t, int)) {
    const std::string usage = std::string("usage: kestmex('") + command + "', elec(s), '0|1')";
    if (nrhs < 3) {
        throw MexError(usage);
    }
    const std::vector<double> electrodes = ReadDoubles(prhs[1], usage);
    // A number (any value but 0 switches on) or the text '0' or '1'.
    int enable = 0;
    if (IsText(prhs[2])) {
        const auto text = ReadText(prhs[2], 2);
        if (!text || (*text != "0" && *text != "1")) {
            throw MexError(usage);
        }
        enable = *text == "1" ? 1 : 0;
    } else {
        const std::vector<double> on = ReadDoubles(prhs[2], usage);
        if (on.empty() || std::isnan(on[0])) {
            throw MexError(usage);
        }
        enable = on[0] != 0 ? 1 : 0;
    }
    for (double x : electrodes) {
        const auto id = WholeIn(x, 1, kMaxElectrode);
        const std::string shown = ShowNumber(x);
        const int status = id ? call(std::uint32_t(*id - 1), enable) : KL_ERR_INVALID_ELECTRODE;
        if (status == KL_ERR_INVALID_ELECTRODE) {
            Warn("Electrode ID " + shown + " is invalid");
        } else if (status == KL_ERR_UNSUPPORTED) {
            Warn(Format(unsupported, shown.c_str()));
        } else if (status != KL_SUCCESS) {
            char text[128];
            kl_error_string(text, sizeof text, status);
            throw MexError(text);
        }
    }
}

} // namespace

void HwGround(int, mxArray*[], int nrhs, const mxArray* prhs[]) {
    Switch(nrhs, prhs, "ground", "Ground switching for electrode %s not supported", kl_hw_ground);
}

void HwReference(int, mxArray*[], int nrhs, const mxArray* prhs[]) {
    Switch(nrhs, prhs, "reference", "Reference switching for electrode %s not supported",
           kl_hw_reference);
}

} // namespace KestMexFcn
