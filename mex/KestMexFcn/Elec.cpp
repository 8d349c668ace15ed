#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include "lib/CommandAccess.h"

#include <optional>
#include <string>

namespace KestMexFcn {

namespace {
constexpr std::size_t kHeadstageSize = 10240;
constexpr unsigned kMaxElectrodes = 512;
} // namespace

void Elec(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 2) {
        throw MexError("usage: kestmex('elec', <headstage string>)");
    }
    std::optional<std::string> headstage = ReadText(prhs[1], kHeadstageSize);
    if (!headstage) {
        throw MexError("invalid headstage string");
    }
    if (*headstage == "all") {
        headstage->clear();
    }
    unsigned list[kMaxElectrodes] = {};
    const unsigned count = kestlib::ElectrodeList(list, kMaxElectrodes, headstage->c_str());
    mxArray* out = Host([&] { return mxCreateDoubleMatrix(1, count, mxREAL); });
    double* values = Host([&] { return mxGetPr(out); });
    for (unsigned i = 0; i < count; ++i) {
        values[i] = double(list[i]) + 1;
    }
    plhs[0] = out;
}

} // namespace KestMexFcn
