#include "mex/KestMexFcn/Electrodes.h"

#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include <cmath>
#include <string>

namespace KestMexFcn {

namespace {

bool IsNumber(const mxArray* array) {
    return array != nullptr && Host([&] { return mxIsDouble(array); });
}

} // namespace

std::vector<std::uint32_t> ReadElectrodes(const mxArray* array, const char* negativeText) {
    if (!IsNumber(array)) {
        throw MexError("electrodes must be given as numbers");
    }
    const std::size_t count = Host([&] { return mxGetNumberOfElements(array); });
    const double* values = count == 0 ? nullptr : Host([&] { return mxGetPr(array); });
    std::vector<std::uint32_t> electrodes;
    electrodes.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double value = values[i];
        if (negativeText != nullptr && std::isfinite(value) && std::trunc(value) < 0) {
            throw MexError(negativeText);
        }
        // Checked before the conversion: out-of-range doubles have no defined integer value.
        if (!std::isfinite(value) || std::trunc(value) < 0 || value >= kMaxElectrodeNumber + 1) {
            throw MexError(Format("invalid electrode %g: electrodes are whole numbers from 1 to "
                                  "4294967295",
                                  value));
        }
        electrodes.push_back(std::uint32_t(value));
    }
    return electrodes;
}

double ReadNumber(const mxArray* array, const char* what) {
    if (!IsNumber(array) || Host([&] { return mxIsEmpty(array); })) {
        throw MexError(std::string(what) + " must be a number");
    }
    return Host([&] { return mxGetScalar(array); });
}

} // namespace KestMexFcn
