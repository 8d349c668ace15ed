#include "mex/KestMexFcn/FrontEndArgs.h"

#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include <cmath>

namespace KestMexFcn {

std::vector<double> ReadDoubles(const mxArray* array, const std::string& error) {
    if (!Host([&] { return mxIsDouble(array); })) {
        throw MexError(error);
    }
    const std::size_t count = Host([&] { return mxGetNumberOfElements(array); });
    const double* values = count == 0 ? nullptr : Host([&] { return mxGetPr(array); });
    return std::vector<double>(values, values + count);
}

std::optional<long long> WholeIn(double value, long long low, long long high) {
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    const double whole = std::trunc(value);
    if (whole < double(low) || whole > double(high)) {
        return std::nullopt;
    }
    return static_cast<long long>(whole);
}

std::string ShowNumber(double value) {
    if (auto whole = WholeIn(value, -2147483648LL, 2147483647LL)) {
        return Format("%d", int(*whole));
    }
    return Format("%g", value);
}

} // namespace KestMexFcn
