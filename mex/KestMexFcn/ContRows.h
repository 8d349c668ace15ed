// The last step of a continuous read: every row gets as many columns as the last electrode
// delivered, and a row that delivered fewer holds NaN after its own samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace KestMexFcn {

// `out` is a column-major matrix of delivered.size() rows and at least the last row's count
// of columns. Returns that count, the number of columns to keep.
std::uint32_t FinishRows(double* out, const std::vector<std::uint32_t>& delivered);

} // namespace KestMexFcn
