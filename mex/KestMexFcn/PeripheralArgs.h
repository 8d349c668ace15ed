// Arguments of the peripheral commands: numbers that must be finite (and whole, in a range)
// before anything converts them.
#pragma once

#include "mex.h"

#include <optional>

namespace KestMexFcn {

// The first element of a non-empty numeric input when it is finite; nothing for text,
// structs, empty arrays, NaN and infinities.
std::optional<double> FiniteNumber(const mxArray* array);

// The input truncated to a whole number when it is finite and the result lies in
// [low, high]; nothing otherwise.
std::optional<long> WholeNumber(const mxArray* array, long low, long high);

} // namespace KestMexFcn
