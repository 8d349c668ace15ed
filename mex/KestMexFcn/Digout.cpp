// "digout": drives the digital outputs (1-4 the single lines, 5 the 16-bit parallel port).
#include "mex/KestMexFcn/FrontEndArgs.h"
#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include <cstdint>
#include <vector>

namespace KestMexFcn {

namespace {

constexpr std::size_t kOutputs = 5;

bool SameShape(const mxArray* a, const mxArray* b) {
    const mwSize dims = Host([&] { return mxGetNumberOfDimensions(a); });
    if (dims != Host([&] { return mxGetNumberOfDimensions(b); })) {
        return false;
    }
    const mwSize* left = Host([&] { return mxGetDimensions(a); });
    const mwSize* right = Host([&] { return mxGetDimensions(b); });
    for (mwSize i = 0; i < dims; ++i) {
        if (left[i] != right[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

void Digout(int, mxArray*[], int nrhs, const mxArray* prhs[]) {
    if (nrhs < 3) {
        throw MexError("usage: kestmex('digital', outputs, values)");
    }
    if (!SameShape(prhs[1], prhs[2])) {
        throw MexError("outputs and values sizes must match");
    }
    if (Host([&] { return mxGetNumberOfDimensions(prhs[1]); }) > 2) {
        throw MexError("dimensions must be less than 2");
    }
    const std::vector<double> outputs = ReadDoubles(prhs[1], "invalid inputs");
    const std::vector<double> values = ReadDoubles(prhs[2], "invalid inputs");
    if (outputs.empty() || outputs.size() > kOutputs) {
        throw MexError("invalid inputs");
    }
    std::uint32_t ids[kOutputs] = {};
    std::uint32_t levels[kOutputs] = {};
    bool seen[kOutputs] = {};
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const auto output = WholeIn(outputs[i], 1, kOutputs);
        // Each output at most once: a repeated one would add into the next output's bits.
        if (!output || seen[*output - 1]) {
            throw MexError("invalid output.");
        }
        seen[*output - 1] = true;
        const auto value = WholeIn(values[i], 0, 4294967295LL);
        if (!value || values[i] < 0) {
            throw MexError("invalid value.");
        }
        ids[i] = std::uint32_t(*output - 1);
        levels[i] = std::uint32_t(*value);
    }
    const int status = kl_digout(ids, levels, int(outputs.size()));
    if (status != KL_SUCCESS) {
        char text[128];
        kl_error_string(text, sizeof text, status);
        throw MexError(text);
    }
}

} // namespace KestMexFcn
