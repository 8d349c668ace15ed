#include "mex/KestMexFcn/ContRows.h"

#include <limits>

namespace KestMexFcn {

std::uint32_t FinishRows(double* out, const std::vector<std::uint32_t>& delivered) {
    if (delivered.empty()) {
        return 0;
    }
    const std::size_t rows = delivered.size();
    const std::uint32_t columns = delivered.back();
    for (std::size_t k = 0; k < rows; ++k) {
        for (std::uint32_t j = delivered[k]; j < columns; ++j) {
            out[std::size_t(j) * rows + k] = std::numeric_limits<double>::quiet_NaN();
        }
    }
    return columns;
}

} // namespace KestMexFcn
