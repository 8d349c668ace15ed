#include "mex/KestMexFcn/PeripheralArgs.h"

#include "mex/KestMexFcn/MexError.h"

#include <cmath>

namespace KestMexFcn {

std::optional<double> FiniteNumber(const mxArray* array) {
    if (array == nullptr || !Host([&] { return mxIsNumeric(array); }) ||
        Host([&] { return mxIsEmpty(array); })) {
        return std::nullopt;
    }
    const double value = Host([&] { return mxGetScalar(array); });
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<long> WholeNumber(const mxArray* array, long low, long high) {
    const std::optional<double> value = FiniteNumber(array);
    if (!value) {
        return std::nullopt;
    }
    const double whole = std::trunc(*value);
    if (whole < double(low) || whole > double(high)) {
        return std::nullopt;
    }
    return long(whole);
}

} // namespace KestMexFcn
