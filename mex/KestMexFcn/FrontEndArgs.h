// Number inputs of the front-end setting commands: every value is checked to be a finite
// number within its range before it is converted.
#pragma once

#include "mex.h"

#include <optional>
#include <string>
#include <vector>

namespace KestMexFcn {

// Every element of a numeric input (none for an empty one); anything else ends the call with
// `error`.
std::vector<double> ReadDoubles(const mxArray* array, const std::string& error);

// The value truncated to a whole number when it is finite and the result lies in
// [low, high]; nothing otherwise.
std::optional<long long> WholeIn(double value, long long low, long long high);

// A number as a message shows it: whole numbers as "%d" would, the rest as "%g".
std::string ShowNumber(double value);

} // namespace KestMexFcn
